// The USB operations: the same frames as over TCP, one per 4,096-byte block.
#include "link/CDevComm.h"

namespace qv {

bool CDevComm::UsbIsOpen() const {
    return link_.Method() == kMethodUsb && link_.IsOpen();
}

int CDevComm::OpenUsb(Link::Ticket ticket) {
    UsbBackend* backend = Backend();
    if (backend == nullptr) {
        return -1;
    }
    Init();
    // The device open before goes first: one device at a time.
    if (link_.Method() == kMethodUsb) {
        link_.Release();
    }
    return link_.OpenUsb(*backend, ticket, sleep_) == 1 ? 1 : -1;
}

void CDevComm::CloseUsb() {
    if (link_.Method() == kMethodUsb) {
        link_.Drop();
    }
    connected_.store(0);
    linkFlag_.store(0);
}

int CDevComm::UsbSendRequest(std::uint8_t code, const std::uint8_t* payload, int length) {
    if (length < 0 || static_cast<std::size_t>(length) > kMaxPayload ||
        (payload == nullptr && length != 0)) {
        SetErrorText("STR_ERROR_PACKET");
        return 0;
    }
    const std::span<const std::uint8_t> bytes(payload, static_cast<std::size_t>(length));
    // A command gets no answer: it must not reset an answer another thread is receiving.
    if (code == REQ_CMD) {
        return link_.Send(RequestFrame(code, bytes));
    }
    return Request(kCmdRequest, code, bytes);
}

int CDevComm::UsbRequestFile(std::uint8_t code, const std::string& name) {
    requestKind_.store(kKindFile);
    const auto entry = BuildFileEntry(name, kMaxAnswerBytes);
    if (!entry) {
        SetErrorText("STR_ERROR_PACKET");
        return 0;
    }
    return UsbSendRequest(code, entry->data(), static_cast<int>(entry->size()));
}

int CDevComm::UsbSendText(const std::string& text) {
    requestKind_.store(kKindFile);
    const auto payload = BuildTextPayload(text);
    if (!payload) {
        SetErrorText("STR_ERROR_PACKET");
        return 0;
    }
    return UsbSendRequest(REQ_CMD, payload->data(), static_cast<int>(payload->size()));
}

int CDevComm::UsbReceive() {
    if (link_.Method() == 0) {
        return -1;
    }
    // The numbering is this call's own: its first frame must be the answer's first.
    answer_->RestartNumbering();
    return link_.Receive(*answer_) == 100 ? 100 : -1;
}

}  // namespace qv
