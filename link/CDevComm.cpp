#include "link/CDevComm.h"

#include <utility>

#include "link/LinkPlatform.h"

namespace qv {

CDevComm::CDevComm() : answer_(std::make_unique<Answer>()) {}

CDevComm::~CDevComm() {
    Close();
}

void CDevComm::Init() {
    transfer_.Init();
}

void CDevComm::GetErrorText(std::string& out) const {
    out = ErrorText();
}

UsbBackend* CDevComm::Backend() const {
    return usbBackend_ != nullptr ? usbBackend_ : InstalledLinkPlatform().usb;
}

// ---- the link ----

void CDevComm::Attach(std::shared_ptr<Transport> transport) {
    if (transport) {
        method_.store(transport->Method());
    }
    link_.Attach(std::move(transport));
}

int CDevComm::Connect(int method, const std::string& host, Link::Ticket ticket) {
    requestKind_.store(kKindConnect);
    method_.store(method);
    // An IPv4 connect leaves an open socket alone and fails.
    const int current = link_.Method();
    if (method == kMethodTcp && current != 0 && current != kMethodUsb && link_.IsOpen()) {
        SetErrorText("STR_DEVCOM_ERR_CHKCABLE");
        linkFlag_.store(0);
        return 0;
    }
    if (link_.OpenTcp(method, host, service_, ticket) != 1) {
        linkFlag_.store(0);
        return 0;
    }
    connected_.store(1);
    linkFlag_.store(1);
    return 1;
}

int CDevComm::ConnectTcp6() {
    // IPv6 closes an open socket first.
    const int current = link_.Method();
    if (current == kMethodTcp || current == kMethodTcp6) {
        link_.Release();
    }
    return Connect(kMethodTcp6, hostAddress_, link_.Take());
}

int CDevComm::Disconnect() {
    link_.Drop();
    connected_.store(0);
    linkFlag_.store(0);
    return 0;
}

void CDevComm::Close() {
    link_.Close();
    connected_.store(0);
    linkFlag_.store(0);
    transfer_.Stop();
}

// ---- requests ----

int CDevComm::Request(std::uint8_t cmd, std::uint8_t code, std::span<const std::uint8_t> payload) {
    return link_.Request(LinkFrame{cmd, code, payload, 1, 0}, *answer_, deadline_.load());
}

int CDevComm::RequestNamed(std::uint8_t cmd, std::uint8_t code, const std::string& name) {
    requestKind_.store(kKindNamed);
    const auto entry = BuildFileEntry(name, 1);
    if (!entry) {
        SetErrorText("STR_ERROR_PACKET");
        return 0;
    }
    return Request(cmd, code, *entry);
}

int CDevComm::SendText(std::uint8_t cmd, std::uint8_t code, const std::string& text) {
    const auto payload = BuildTextPayload(text);
    if (!payload) {
        SetErrorText("STR_ERROR_PACKET");
        return 0;
    }
    // A command gets no answer: it must not reset the state of an answer another thread
    // is receiving.
    if (code == REQ_CMD) {
        return link_.Send(LinkFrame{cmd, code, *payload, 1, 0});
    }
    requestKind_.store(kKindFile);
    return Request(cmd, code, *payload);
}

int CDevComm::SendRequest(std::uint8_t cmd, std::uint8_t code) {
    requestKind_.store(kKindEqInfo);
    return Request(cmd, code, {});
}

int CDevComm::RequestFile(std::uint8_t cmd, std::uint8_t code, const std::string& name,
                          std::uint32_t size) {
    requestKind_.store(kKindFile);
    const auto entry = BuildFileEntry(name, size);
    if (!entry) {
        SetErrorText("STR_ERROR_PACKET");
        return 0;
    }
    return Request(cmd, code, *entry);
}

int CDevComm::SendCommand(const std::string& text) {
    return SendText(kCmdRequest, REQ_CMD, text);
}

int CDevComm::RequestScreen() {
    return RequestFile(kCmdRequest, REQ_SCREEN, std::string(kScreenFileName), kScreenFileSize);
}

int CDevComm::RequestEquipment() {
    return SendRequest(kCmdRequest, REQ_EQINFO);
}

int CDevComm::WriteData(std::uint8_t /*cmd*/, std::uint8_t code, const std::string& /*name*/,
                        int length, const std::uint8_t* data) {
    requestKind_.store(kKindUpload);
    return transfer_.Upload(code, data, length);
}

// ---- answers ----

int CDevComm::ReceiveFrame() {
    return link_.ReceiveFrame(*answer_);
}

int CDevComm::Poll() {
    const int kind = requestKind_.load();
    if (kind == kKindUpload) {
        return transfer_.UploadProgress();
    }
    if (kind != kKindConnect && kind != kKindNamed && kind != kKindFile && kind != kKindEqInfo) {
        return 90;
    }
    for (;;) {
        const int r = ReceiveFrame();
        if (r <= 0) {
            return -1;
        }
        const int progress = answer_->Join();
        if (progress < 0) {
            SetErrorText(answer_->error);
            return -1;
        }
        if (progress >= 100) {
            return progress;
        }
        // A frame taken from bytes already read: move on to the next one at once.
        if (r != 1) {
            return progress;
        }
    }
}

int CDevComm::ReceiveAnswer(const std::atomic<int>* abort) {
    return link_.Receive(*answer_, abort);
}

}  // namespace qv
