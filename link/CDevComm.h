// The one object through which the program talks to an instrument: frames requests,
// writes them to the transport, reads the answer's frames back, checks and joins them.
#pragma once

#include <array>
#include <atomic>
#include <condition_variable>
#include <cstdint>
#include <functional>
#include <memory>
#include <mutex>
#include <shared_mutex>
#include <string>
#include <thread>
#include <vector>

#include "link/AnswerJoiner.h"
#include "link/CInterface.h"
#include "link/CommandSet.h"
#include "link/FrameAssembler.h"
#include "link/ReaderEvents.h"
#include "link/UsbBackend.h"
#include "platform/SystemVersion.h"

namespace qv {

class DevOwner;
class CUsbDeviceXP;
class CUsbDeviceVista;

// Request kinds: what the last request operation sent; Poll acts on it.
enum RequestKind : int {
    kKindConnect = 1,
    kKindNamed = 2,
    kKindFile = 3,
    kKindEqInfo = 80,
    kKindUpload = 145,
};

// Link methods.
inline constexpr int kMethodTcp = 1;
inline constexpr int kMethodUsb = 2;
inline constexpr int kMethodTcp6 = 3;

inline constexpr std::size_t kEntryTableSize = 400;

class CDevComm {
  public:
    CDevComm();
    virtual ~CDevComm();
    CDevComm(const CDevComm&) = delete;
    CDevComm& operator=(const CDevComm&) = delete;

    virtual int IsConnected() const { return connected_.load(); }
    virtual int ConnectTcp();
    virtual int Disconnect();
    virtual void Init(DevOwner* owner);
    virtual int ConnectTcp6();
    virtual int RequestNamed(std::uint8_t cmd, std::uint8_t code, const std::string& name);
    virtual int SendText(std::uint8_t cmd, std::uint8_t code, const std::string& text);
    virtual int SendRequest(std::uint8_t cmd, std::uint8_t code);
    virtual int RequestFile(std::uint8_t cmd, std::uint8_t code, const std::string& name,
                            std::uint32_t size);
    virtual int WriteData(std::uint8_t cmd, std::uint8_t code, const std::string& name, int length,
                          const std::uint8_t* data);
    virtual int Poll();
    virtual void GetErrorText(std::string& out) const;
    virtual int ReceiveFrame();
    virtual const std::uint8_t* GetData() const { return data_.data(); }
    virtual int GetDataLength() const { return static_cast<int>(joiner_.length()); }
    // Record i of the entry table; null when i is out of range.
    virtual const FileEntry* GetEntry(int i) const;

    // USB: one 4,096-byte block per transfer; a reader thread receives woken requests.
    int OpenUsb(DevOwner* owner);
    void CloseUsb();
    int UsbSendRequest(std::uint8_t code, const std::uint8_t* payload, int length, int wake);
    int UsbRequestFile(std::uint8_t code, const std::string& name);
    int UsbSendText(const std::string& text);
    int UsbReceive();
    bool UsbIsOpen() const;
    // Which device class OpenUsb chose: 1 older (one handle), 2 newer (two pipes), 0 none.
    int UsbDeviceGeneration() const;

    // Seams: the USB backend (default: the system's), the version queries that choose the
    // device class, and the sleeps of the busy wait and the older class's handshake delay.
    using VersionQuery = bool (*)(OsVersion&);
    void SetUsbBackend(UsbBackend* backend) { usbBackend_ = backend; }
    void SetVersionQueries(VersionQuery extended, VersionQuery basic) {
        versionEx_ = extended;
        version_ = basic;
    }
    void SetSleep(std::function<void(std::chrono::milliseconds)> sleep) {
        sleep_ = std::move(sleep);
    }

    void SetAddress(const std::string& host) { hostAddress_ = host; }
    const std::string& Address() const { return hostAddress_; }

    std::string ErrorText() const;
    void SetErrorText(const std::string& text);

    // The session and the transfer dialog mark a lost or confirmed link here.
    void SetConnected(int flag) { connected_.store(flag); }
    int LinkFlag() const { return link_.load(); }

    // What the transport sent for the last request frame: bytes, 0 or -1.
    int LastSendResult() const { return lastSendResult_.load(); }
    int RequestKind() const { return requestKind_.load(); }
    void SetRequestKind(int kind) { requestKind_.store(kind); }
    int Method() const { return transport_.method; }
    void SetMethod(int method) { transport_.method = method; }

    // Code of the last frame received; the transfer dialog acts on it and clears it.
    std::uint8_t LastFrameCode() const { return lastFrame_.code; }
    void ClearLastFrameCode() { lastFrame_.code = 0; }
    // Copies a list answer (FileEntry records) into the entry table.
    void LoadEntryTable(const std::uint8_t* data, std::size_t length);
    void ClearEntryTable() { entryCount_ = 0; }
    int EntryCount() const { return static_cast<int>(entryCount_); }

    // The product always connects to port 66; tests and tools point it elsewhere.
    void SetPort(std::uint16_t port) { transport_.SetService(std::to_string(port)); }

    // Bounds of waiting for socket data.
    static constexpr std::chrono::milliseconds kReadWindow{410};   // one ReadSocket
    static constexpr std::chrono::milliseconds kAttemptPause{50};  // between attempts
    static constexpr int kFrameAttempts = 5;
    static constexpr std::chrono::milliseconds kFrameDeadline{2300};  // one frame, whatever flows
    static constexpr std::size_t kUploadChunk = kMaxPayload;
    static constexpr int kUploadSingleFrameBelow = 1024;
    static constexpr std::chrono::milliseconds kUsbBusyStep{100};
    static constexpr int kUsbBusySteps = 12;
    static constexpr std::chrono::milliseconds kUsbXpHandshakeDelay{2000};
    static constexpr std::chrono::milliseconds kUsbReaderWait{100};

  protected:
    struct LastFrame {
        std::uint8_t cmd = 0, code = 0, count = 0, index = 0;
        std::array<std::uint8_t, kMaxPayload> payload{};
        std::size_t length = 0;
    };

    // Builds one frame and writes it whole. resetAnswer clears the answer state first (every
    // request that expects an answer). Returns 1 when the whole frame was written.
    int SendFrame(std::uint8_t cmd, std::uint8_t code, std::uint8_t count, std::uint8_t index,
                  std::span<const std::uint8_t> payload, bool resetAnswer);
    void ResetAnswer();
    // Adds a frame to the answer: -1 (error text set), 100 when complete, else the progress.
    int JoinFrame(const FrameView& frame);
    void EnsureBuffers();
    int ReadSocket();
    void UploadWorker(std::uint8_t code, std::vector<std::uint8_t> data);
    void JoinUpload();
    // The answer's joined data is read as text by callers; keep a zero after it.
    void TerminateData() { data_[joiner_.length()] = 0; }

    // Writes one whole block to the open device; true when all of it went out.
    bool UsbWriteBlock(const std::uint8_t* block);
    // One block read into a fresh block that holds the fill pattern where nothing arrived.
    bool UsbReadBlock(std::vector<std::uint8_t>& block);
    void UsbReaderThread();
    void Sleep(std::chrono::milliseconds time) const;

    std::atomic<int> lastSendResult_{0};
    DevOwner* owner_ = nullptr;
    mutable std::mutex errorLock_;
    std::string lastError_;
    CInterface transport_;
    std::atomic<int> connected_{0};
    std::atomic<int> link_{0};

    std::vector<std::uint8_t> receive_;  // bytes of the last socket read
    std::vector<std::uint8_t> data_;     // joined payloads of the current answer, then a zero
    std::size_t pendingOffset_ = 0;      // unread bytes of receive_ after an end marker
    std::size_t pendingCount_ = 0;
    FrameAssembler assembler_;
    AnswerJoiner joiner_{std::span<std::uint8_t>{}};
    LastFrame lastFrame_;

    std::vector<FileEntry> entries_;
    std::size_t entryCount_ = 0;

    std::atomic<int> requestKind_{0};
    std::string hostAddress_ = "127.0.0.1";

    // Whole frames never interleave on the wire, whichever thread writes them.
    std::mutex writeLock_;

    // Chunked upload.
    std::thread uploadThread_;
    std::atomic<bool> uploadStop_{false};
    std::atomic<bool> uploadFailed_{false};
    std::atomic<std::int64_t> uploadSent_{0};
    std::atomic<std::int64_t> uploadTotal_{0};
    std::mutex uploadLock_;
    std::condition_variable uploadDone_;
    bool uploadComplete_ = false;

    // USB. The device pointers change only under the exclusive lock; transfers hold it shared.
    UsbBackend* usbBackend_ = nullptr;
    VersionQuery versionEx_ = &QueryVersionEx;
    VersionQuery version_ = &QueryVersion;
    std::function<void(std::chrono::milliseconds)> sleep_;
    mutable std::shared_mutex usbLock_;
    std::unique_ptr<CUsbDeviceXP> usbXp_;
    std::unique_ptr<CUsbDeviceVista> usbVista_;
    std::thread usbReader_;
    ReaderEvents usbEvents_;
    std::atomic<int> usbBusy_{0};
};

}  // namespace qv
