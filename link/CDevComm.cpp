#include "link/CDevComm.h"

#include <algorithm>
#include <cstring>
#include <system_error>
#include <utility>

#include "link/LinkPlatform.h"

namespace qv {

using std::chrono::milliseconds;

CDevComm::CDevComm() : answer_(std::make_unique<Answer>()) {}

CDevComm::~CDevComm() {
    Close();
}

void CDevComm::Init() {
    if (entries_.empty()) {
        entries_.assign(kEntryTableSize, FileEntry{});
    }
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
    if (uploadThread_.joinable() && uploadThread_.get_id() != std::this_thread::get_id()) {
        JoinUpload();
    }
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
    JoinUpload();
    requestKind_.store(kKindUpload);
    uploadSent_.store(0);
    uploadTotal_.store(length < 0 ? 0 : length);
    uploadFailed_.store(false);
    if (length < 0 || (length > 0 && data == nullptr)) {
        return 0;
    }
    const std::span<const std::uint8_t> bytes(data, static_cast<std::size_t>(length));
    if (length < kUploadSingleFrameBelow) {
        const int ok = link_.Send(RequestFrame(code, bytes));
        if (ok) {
            uploadSent_.store(length);
        } else {
            uploadFailed_.store(true);
        }
        return ok;
    }
    // count is one byte: an upload needing more than 255 frames cannot be numbered.
    if (static_cast<std::size_t>(length) / kUploadChunk + 1 > 255) {
        SetErrorText("STR_ERROR_PACKET");
        return 0;
    }
    uploadStop_.store(false);
    // The caller's buffer need not outlive the call.
    std::vector<std::uint8_t> copy(bytes.begin(), bytes.end());
    try {
        uploadThread_ = std::thread(&CDevComm::UploadWorker, this, code, std::move(copy));
    } catch (const std::system_error&) {
        return 0;
    }
    return 1;
}

void CDevComm::UploadWorker(std::uint8_t code, std::vector<std::uint8_t> data) {
    const std::size_t n = data.size() / kUploadChunk;
    const auto count = static_cast<std::uint8_t>(n + 1);
    for (std::size_t i = 0; i <= n && !uploadStop_.load(); ++i) {
        const std::size_t offset = kUploadChunk * i;
        const std::size_t size = i < n ? kUploadChunk : data.size() % kUploadChunk;
        const LinkFrame frame{kCmdRequest, code, std::span(data.data() + offset, size), count,
                              static_cast<std::uint8_t>(i)};
        if (!link_.Send(frame)) {
            uploadFailed_.store(true);
            break;
        }
        if (i < n) {
            std::this_thread::sleep_for(milliseconds(1));
        }
        uploadSent_.fetch_add(static_cast<std::int64_t>(size));
    }
}

void CDevComm::JoinUpload() {
    if (uploadThread_.joinable()) {
        uploadStop_.store(true);
        uploadThread_.join();
    }
}

// ---- answers ----

int CDevComm::ReceiveFrame() {
    return link_.ReceiveFrame(*answer_);
}

int CDevComm::Poll() {
    const int kind = requestKind_.load();
    if (kind == kKindUpload) {
        if (uploadFailed_.load()) {
            SetErrorText("STR_ERROR_TIMEOUT");
            return -1;
        }
        const std::int64_t total = uploadTotal_.load();
        if (total <= 0) {
            return 100;
        }
        return static_cast<int>(uploadSent_.load() * 100 / total);
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

const FileEntry* CDevComm::GetEntry(int i) const {
    if (i < 0 || static_cast<std::size_t>(i) >= entryCount_) {
        return nullptr;
    }
    return &entries_[static_cast<std::size_t>(i)];
}

void CDevComm::LoadEntryTable(const std::uint8_t* data, std::size_t length) {
    Init();
    // The table holds 400 records; a longer list is cut there.
    entryCount_ = std::min(length / kFileEntrySize, kEntryTableSize);
    for (std::size_t i = 0; i < entryCount_; ++i) {
        std::memcpy(entries_[i].data(), data + i * kFileEntrySize, kFileEntrySize);
    }
}

}  // namespace qv
