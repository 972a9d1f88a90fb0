// The instrument link under the operation names the rest of the program knows: the TCP and
// USB requests, Poll and the block receive, the transfer dialog's upload and entry table (its
// FileTransfer). Everything that touches the wire goes through its Link, which owns the
// transport and lets one exchange through at a time; the session and the tools exchange on
// link() directly.
#pragma once

#include <atomic>
#include <chrono>
#include <cstdint>
#include <functional>
#include <memory>
#include <string>

#include "link/CommandSet.h"
#include "link/FileTransfer.h"
#include "link/Link.h"
#include "link/UsbBackend.h"

namespace qv {

// Request kinds: what the last request operation sent; Poll acts on it.
enum RequestKind : int {
    kKindConnect = 1,
    kKindNamed = 2,
    kKindFile = 3,
    kKindEqInfo = 80,
    kKindUpload = 145,
};

class CDevComm {
  public:
    CDevComm();
    // Closes the link and joins the upload.
    virtual ~CDevComm();
    CDevComm(const CDevComm&) = delete;
    CDevComm& operator=(const CDevComm&) = delete;

    Link& link() { return link_; }
    const Link& link() const { return link_; }

    // ---- Method-independent operations: the same call over TCP and USB. ----

    // Sends one REQ_CMD frame carrying text (the command line as it goes out, line feed
    // included). It gets no answer and leaves an answer being received alone. 1 sent; 0 not,
    // with the error text set.
    int SendCommand(const std::string& text);
    // Asks for the current screen: REQ_SCREEN naming "currentdisp.jpg" with size 400,000.
    int RequestScreen();
    // Asks for the equipment information (REQ_EQINFO, no payload). 1 sent, 0 not.
    int RequestEquipment();
    // Receives the whole answer to the last request: 100 complete, -1 failed (error text),
    // kAnswerAborted when *abort became 1; within the answer deadline, at once on Close.
    int ReceiveAnswer(const std::atomic<int>* abort);
    // From any thread: closes the link for good (Link::Close) and stops the upload.
    void Close();
    int ActiveMethod() const { return link_.Method(); }
    bool PeerGone() const { return link_.PeerGone(); }

    static constexpr std::chrono::milliseconds kAnswerDeadline = Link::kAnswerDeadline;
    void SetAnswerDeadline(std::chrono::milliseconds deadline) { deadline_.store(deadline); }
    std::chrono::milliseconds AnswerDeadline() const { return deadline_.load(); }
    void SetClock(LinkClock* clock) { link_.SetClock(clock); }
    // Takes an open transport of the caller's as the link (tests, tools).
    void Attach(std::shared_ptr<Transport> transport);

    // ---- The named operations. ----

    virtual int IsConnected() const { return connected_.load(); }
    virtual int ConnectTcp() { return Connect(kMethodTcp, hostAddress_, link_.Take()); }
    // Closes whatever link is open, TCP or USB, and clears the connected and link flags. 0.
    virtual int Disconnect();
    virtual void Init();
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
    virtual const std::uint8_t* GetData() const { return answer_->data(); }
    virtual int GetDataLength() const { return static_cast<int>(answer_->length()); }
    // Record i of the entry table; null when i is out of range.
    virtual const FileEntry* GetEntry(int i) const { return transfer_.GetEntry(i); }

    // Connects over TCP (method kMethodTcp or kMethodTcp6) to host; the open is dropped when
    // a Disconnect or Close came after ticket was taken. 1 connected (both flags 1), 0 not.
    int Connect(int method, const std::string& host, Link::Ticket ticket);

    // USB: one 4,096-byte block per transfer. 1 open, -1 not.
    int OpenUsb() { return OpenUsb(link_.Take()); }
    int OpenUsb(Link::Ticket ticket);
    // Closes a USB link and clears the flags.
    void CloseUsb();
    int UsbSendRequest(std::uint8_t code, const std::uint8_t* payload, int length);
    int UsbRequestFile(std::uint8_t code, const std::string& name);
    int UsbSendText(const std::string& text);
    int UsbReceive();
    bool UsbIsOpen() const;
    // Which device class opened: 1 older (one handle), 2 newer (two pipes), 0 none.
    int UsbDeviceGeneration() const { return link_.UsbGeneration(); }

    // Seams: the USB backend (default: what the program installed, LinkPlatform), and the
    // older class's handshake delay.
    void SetUsbBackend(UsbBackend* backend) { usbBackend_ = backend; }
    void SetSleep(Link::Sleeper sleep) { sleep_ = std::move(sleep); }

    void SetAddress(const std::string& host) { hostAddress_ = host; }
    const std::string& Address() const { return hostAddress_; }

    std::string ErrorText() const { return link_.ErrorText(); }
    void SetErrorText(const std::string& text) { link_.SetErrorText(text); }

    // The session and the transfer dialog mark a lost or confirmed link here.
    void SetConnected(int flag) { connected_.store(flag); }
    int LinkFlag() const { return linkFlag_.load(); }

    int LastSendResult() const { return link_.LastSendResult(); }
    int RequestKind() const { return requestKind_.load(); }
    void SetRequestKind(int kind) { requestKind_.store(kind); }
    // The method the session chose last (written before each connect).
    int Method() const { return method_.load(); }
    void SetMethod(int method) { method_.store(method); }

    // Code of the last frame received; the transfer dialog acts on it and clears it.
    std::uint8_t LastFrameCode() const { return answer_->last.code; }
    void ClearLastFrameCode() { answer_->last.code = 0; }
    // Copies a list answer (FileEntry records) into the entry table.
    void LoadEntryTable(const std::uint8_t* data, std::size_t length) {
        transfer_.LoadEntryTable(data, length);
    }
    void ClearEntryTable() { transfer_.ClearEntryTable(); }
    int EntryCount() const { return transfer_.EntryCount(); }

    // The product always connects to port 66; tests and tools point it elsewhere.
    void SetPort(std::uint16_t port) { service_ = std::to_string(port); }
    const std::string& Service() const { return service_; }

    static constexpr std::chrono::milliseconds kFrameDeadline = Link::kFrameDeadline;

  protected:
    // A request that expects an answer: the answer under way starts again.
    int Request(std::uint8_t cmd, std::uint8_t code, std::span<const std::uint8_t> payload);
    UsbBackend* Backend() const;

    Link link_;
    std::unique_ptr<Answer> answer_;
    std::atomic<int> connected_{0};
    std::atomic<int> linkFlag_{0};
    std::atomic<int> method_{kMethodTcp};
    std::atomic<int> requestKind_{0};
    std::atomic<std::chrono::milliseconds> deadline_{kAnswerDeadline};
    std::string service_ = "66";
    std::string hostAddress_ = "127.0.0.1";

    FileTransfer transfer_{link_};  // after link_: ends before it

    UsbBackend* usbBackend_ = nullptr;
    Link::Sleeper sleep_;
};

}  // namespace qv
