// The one object through which the program talks to an instrument: frames requests, writes
// them to the transport chosen at connect (TCP or USB), reads the answer's frames back, checks
// and joins them. The design's TCP and USB operations stay as a facade over that one
// transport; the method-independent operations below are what a session needs.
#pragma once

#include <array>
#include <atomic>
#include <chrono>
#include <condition_variable>
#include <cstdint>
#include <functional>
#include <memory>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

#include "link/AnswerJoiner.h"
#include "link/CommandSet.h"
#include "link/FrameAssembler.h"
#include "link/LinkClock.h"
#include "link/OsVersion.h"
#include "link/ReaderEvents.h"
#include "link/Transport.h"
#include "link/UsbBackend.h"

namespace qv {

class DevOwner;

// Request kinds: what the last request operation sent; Poll acts on it.
enum RequestKind : int {
    kKindConnect = 1,
    kKindNamed = 2,
    kKindFile = 3,
    kKindEqInfo = 80,
    kKindUpload = 145,
};

inline constexpr std::size_t kEntryTableSize = 400;

// ReceiveAnswer's result when the abort flag became 1.
inline constexpr int kAnswerAborted = -2;

class CDevComm {
  public:
    CDevComm();
    // Closes the transport and joins the reader and upload threads.
    virtual ~CDevComm();
    CDevComm(const CDevComm&) = delete;
    CDevComm& operator=(const CDevComm&) = delete;

    // ---- Method-independent operations: the same call over TCP and USB. ----

    // Sends one REQ_CMD frame carrying text (the command line as it goes out, line feed
    // included) over the open transport. It gets no answer and leaves the state of an answer
    // being received alone. 1 sent; 0 not sent, with the error text set
    // ("STR_ERROR_PACKET" when the text is too long, "STR_DEVCOM_ERR_CHKCABLE" when the
    // link did not take it).
    int SendCommand(const std::string& text);
    // Asks for the current screen: REQ_SCREEN naming "currentdisp.jpg" with size 400,000.
    // Resets the answer state and starts the answer's deadline. 1 sent, 0 not (error text).
    int RequestScreen();
    // Asks for the equipment information (REQ_EQINFO, no payload). With wakeReader the
    // engine's reader thread receives the answer and reports it through the response
    // callback; otherwise the caller receives it with ReceiveAnswer. 1 sent, 0 not.
    int RequestEquipment(bool wakeReader);
    // Receives the whole answer to the last request: 100 when it is complete (GetData,
    // GetDataLength), -1 on failure with the error text set ("STR_ERROR_TIMEOUT",
    // "STR_ERROR_CHECKSUM", "STR_ERROR_PACKET", "Communication Error!"), kAnswerAborted (-2)
    // when *abort became 1. Ends within the answer deadline whatever the instrument sends;
    // Close from another thread ends it at once.
    int ReceiveAnswer(const std::atomic<int>* abort);
    // From any thread: closes the transport (a read blocked in another thread returns at
    // once), clears the connected and link flags, stops and joins the reader thread and the
    // upload. Called from the response callback it stops the reader without waiting for it.
    // Bounded; safe to call twice.
    void Close();
    // The method of the open transport (kMethodTcp, kMethodTcp6, kMethodUsb), 0 with none.
    int ActiveMethod() const;
    // The peer has ended the link (seen without reading); false with no link. Any thread.
    bool PeerGone() const;
    // What the reader thread calls when it has received an answer to a woken request: the
    // ReceiveAnswer result (100 or -1). Replaced or cleared (empty function) under a lock;
    // once this returns the old callback is not running and never runs again (unless it is
    // the reader thread itself that calls). The callback must not wait for the thread that
    // clears it.
    void SetResponseCallback(std::function<void(int result)> callback);

    // Every answer ends within this time of its request, whatever the peer sends. The
    // largest legal answer (400,000 bytes, up to twice that escaped) takes 6.5 s even at
    // 1 Mbit/s, and a screen that takes longer is of no use to a stream that wants two a
    // second; a silent peer is still given up after kFrameDeadline.
    static constexpr std::chrono::milliseconds kAnswerDeadline{10000};
    void SetAnswerDeadline(std::chrono::milliseconds deadline) { answerDeadlineLength_ = deadline; }
    // The clock of the deadlines and pauses (default: the steady clock).
    void SetClock(LinkClock* clock) { clock_ = clock != nullptr ? clock : &LinkClock::Steady(); }
    // Takes an open transport of the caller's as the link (tests, tools).
    void Attach(std::shared_ptr<Transport> transport);

    // ---- The design's operations. ----

    virtual int IsConnected() const { return connected_.load(); }
    virtual int ConnectTcp() { return Connect(kMethodTcp); }
    // Closes a TCP transport (either family) and clears the connected and link flags; a USB
    // link stays open (CloseUsb closes it). 0.
    virtual int Disconnect();
    virtual void Init(DevOwner* owner);
    virtual int ConnectTcp6() { return Connect(kMethodTcp6); }
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

    // USB: one 4,096-byte block per transfer; a reader thread receives woken requests and
    // calls owner->OnResponseReady(1) (the response callback).
    int OpenUsb(DevOwner* owner);
    // Closes a USB transport, clears the flags, and always stops and joins the reader thread.
    void CloseUsb();
    int UsbSendRequest(std::uint8_t code, const std::uint8_t* payload, int length, int wake);
    int UsbRequestFile(std::uint8_t code, const std::string& name);
    int UsbSendText(const std::string& text);
    int UsbReceive();
    bool UsbIsOpen() const;
    // Which device class OpenUsb chose: 1 older (one handle), 2 newer (two pipes), 0 none.
    int UsbDeviceGeneration() const;

    // Seams: the USB backend and the version queries (default: what the program installed,
    // LinkPlatform), and the sleeps of the busy wait and the older class's handshake delay.
    void SetUsbBackend(UsbBackend* backend) { usbBackend_ = backend; }
    void SetVersionQueries(VersionQuery extended, VersionQuery basic) {
        versionEx_ = extended;
        version_ = basic;
        versionsSet_ = true;
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

    // What the transport took for the last request frame: bytes, 0 or -1.
    int LastSendResult() const { return lastSendResult_.load(); }
    int RequestKind() const { return requestKind_.load(); }
    void SetRequestKind(int kind) { requestKind_.store(kind); }
    // The method the session chose last (written before each connect).
    int Method() const { return method_.load(); }
    void SetMethod(int method) { method_.store(method); }

    // Code of the last frame received; the transfer dialog acts on it and clears it.
    std::uint8_t LastFrameCode() const { return lastFrame_.code; }
    void ClearLastFrameCode() { lastFrame_.code = 0; }
    // Copies a list answer (FileEntry records) into the entry table.
    void LoadEntryTable(const std::uint8_t* data, std::size_t length);
    void ClearEntryTable() { entryCount_ = 0; }
    int EntryCount() const { return static_cast<int>(entryCount_); }

    // The product always connects to port 66; tests and tools point it elsewhere.
    void SetPort(std::uint16_t port) { service_ = std::to_string(port); }

    // Waiting for one frame over TCP: 5 attempts, each a read window (CInterface) or, on a
    // closed peer, a pause; and no frame takes longer than kFrameDeadline, bytes or not.
    static constexpr std::chrono::milliseconds kAttemptPause{50};
    static constexpr int kFrameAttempts = 5;
    static constexpr std::chrono::milliseconds kFrameDeadline{2300};
    static constexpr std::size_t kUploadChunk = kMaxPayload;
    static constexpr int kUploadSingleFrameBelow = 1024;
    static constexpr std::chrono::milliseconds kUsbBusyStep{100};
    static constexpr int kUsbBusySteps = 12;
    static constexpr std::chrono::milliseconds kUsbReaderWait{100};

  protected:
    struct LastFrame {
        std::uint8_t cmd = 0, code = 0, count = 0, index = 0;
        std::array<std::uint8_t, kMaxPayload> payload{};
        std::size_t length = 0;
    };

    // ConnectTcp and ConnectTcp6: method kMethodTcp or kMethodTcp6.
    int Connect(int method);
    // Builds one frame and writes it whole. resetAnswer clears the answer state first (every
    // request that expects an answer). 1 when the transport took it; 0 with the error text.
    int SendFrame(std::uint8_t cmd, std::uint8_t code, std::uint8_t count, std::uint8_t index,
                  std::span<const std::uint8_t> payload, bool resetAnswer);
    void ResetAnswer();
    // An answer (or a first one on a fresh link) is due within the answer deadline from now.
    void StartAnswerDeadline();
    // Adds the last frame to the answer: -1 (error text set), 100 when complete, else the
    // progress.
    int JoinLastFrame();
    void EnsureBuffers();
    void UploadWorker(std::uint8_t code, std::vector<std::uint8_t> data);
    void JoinUpload();
    // The answer's joined data is read as text by callers; keep a zero after it.
    void TerminateData() { data_[joiner_.length()] = 0; }
    void Sleep(std::chrono::milliseconds time);
    LinkClock::TimePoint AnswerDeadline() const;

    std::shared_ptr<Transport> ActiveTransport() const;
    // Makes transport the link, closing the one before.
    void Publish(std::shared_ptr<Transport> transport);
    // Takes the link away if it is still transport (any, with null); returns what it took.
    std::shared_ptr<Transport> Unpublish(const Transport* transport);

    // The reader thread: started by OpenUsb or the first woken request, ended by Close.
    bool EnsureReader();
    void StopReader();
    void ReaderLoop();
    void WakeReader();
    void Notify(int result);

    std::atomic<int> lastSendResult_{0};
    DevOwner* owner_ = nullptr;
    mutable std::mutex errorLock_;
    std::string lastError_;
    std::atomic<int> connected_{0};
    std::atomic<int> link_{0};
    std::atomic<int> method_{kMethodTcp};
    std::string service_ = "66";

    mutable std::mutex transportLock_;
    std::shared_ptr<Transport> transport_;

    std::vector<std::uint8_t> receive_;  // bytes of the last read
    std::vector<std::uint8_t> data_;     // joined payloads of the current answer, then a zero
    std::size_t pendingOffset_ = 0;      // unread bytes of receive_ after an end marker
    std::size_t pendingCount_ = 0;
    bool pendingWhole_ = false;  // the pending bytes came from a read of whole frames
    const std::atomic<int>* receiveAbort_ = nullptr;  // ReceiveAnswer's flag, its thread only
    FrameAssembler assembler_;
    AnswerJoiner joiner_{std::span<std::uint8_t>{}};
    LastFrame lastFrame_;

    std::vector<FileEntry> entries_;
    std::size_t entryCount_ = 0;

    std::atomic<int> requestKind_{0};
    std::string hostAddress_ = "127.0.0.1";

    LinkClock* clock_ = &LinkClock::Steady();
    std::chrono::milliseconds answerDeadlineLength_ = kAnswerDeadline;
    std::atomic<LinkClock::TimePoint::rep> answerDeadline_{0};

    // Chunked upload.
    std::thread uploadThread_;
    std::atomic<bool> uploadStop_{false};
    std::atomic<bool> uploadFailed_{false};
    std::atomic<std::int64_t> uploadSent_{0};
    std::atomic<std::int64_t> uploadTotal_{0};

    // USB.
    UsbBackend* usbBackend_ = nullptr;
    VersionQuery versionEx_ = nullptr;
    VersionQuery version_ = nullptr;
    bool versionsSet_ = false;
    std::function<void(std::chrono::milliseconds)> sleep_;
    std::atomic<int> usbBusy_{0};

    // Reader thread and the response callback.
    std::mutex readerLock_;
    std::thread reader_;
    std::atomic<std::thread::id> readerId_{};
    std::atomic<bool> readerRunning_{false};
    std::atomic<int> readerAbort_{0};
    ReaderEvents events_;
    std::mutex callbackLock_;
    std::condition_variable callbackIdle_;
    std::function<void(int)> callback_;
    bool callbackRunning_ = false;
};

}  // namespace qv
