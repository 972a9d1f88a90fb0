#include "link/CDevComm.h"

#include <algorithm>
#include <cstring>

#include "link/CUsbDeviceVista.h"
#include "link/CUsbDeviceXP.h"
#include "link/DevOwner.h"

namespace qv {

using Clock = std::chrono::steady_clock;

CDevComm::CDevComm() = default;

CDevComm::~CDevComm() {
    CloseUsb();
    JoinUpload();
    transport_.StopComm();
}

void CDevComm::EnsureBuffers() {
    if (receive_.empty()) {
        receive_.assign(kMaxAnswerBytes, 0);
        data_.assign(kMaxAnswerBytes + 1, 0);
        joiner_ = AnswerJoiner(std::span<std::uint8_t>(data_.data(), kMaxAnswerBytes));
        entries_.assign(kEntryTableSize, FileEntry{});
    }
}

void CDevComm::Init(DevOwner* owner) {
    owner_ = owner;
    EnsureBuffers();
}

std::string CDevComm::ErrorText() const {
    std::lock_guard lock(errorLock_);
    return lastError_;
}

void CDevComm::GetErrorText(std::string& out) const {
    out = ErrorText();
}

void CDevComm::SetErrorText(const std::string& text) {
    std::lock_guard lock(errorLock_);
    lastError_ = text;
}

int CDevComm::ConnectTcp() {
    EnsureBuffers();
    requestKind_.store(kKindConnect);
    pendingCount_ = 0;
    transport_.method = kMethodTcp;
    if (!transport_.ConnectTo(hostAddress_.c_str())) {
        SetErrorText("STR_DEVCOM_ERR_CHKCABLE");
        link_.store(0);
        return 0;
    }
    connected_.store(1);
    link_.store(1);
    return 1;
}

int CDevComm::ConnectTcp6() {
    EnsureBuffers();
    requestKind_.store(kKindConnect);
    pendingCount_ = 0;
    transport_.method = kMethodTcp6;
    if (!transport_.ConnectTo6(hostAddress_.c_str())) {
        SetErrorText("STR_DEVCOM_ERR_CHKCABLE");
        link_.store(0);
        return 0;
    }
    connected_.store(1);
    link_.store(1);
    return 1;
}

int CDevComm::Disconnect() {
    // IPv6 sockets are closed too: one socket per connect, never leaked.
    if (transport_.method == kMethodTcp || transport_.method == kMethodTcp6) {
        transport_.StopComm();
    }
    connected_.store(0);
    link_.store(0);
    return 0;
}

void CDevComm::ResetAnswer() {
    std::fill(receive_.begin(), receive_.end(), 0);
    pendingCount_ = 0;
    pendingOffset_ = 0;
    assembler_.Reset();
    joiner_.Reset();
    TerminateData();
}

int CDevComm::SendFrame(std::uint8_t cmd, std::uint8_t code, std::uint8_t count, std::uint8_t index,
                        std::span<const std::uint8_t> payload, bool resetAnswer) {
    EnsureBuffers();
    if (resetAnswer) {
        ResetAnswer();
    }
    std::array<std::uint8_t, kMaxEncodedFrame> frame;
    const std::size_t size =
        EncodeFrame(FrameHeader{cmd, code, count, index}, payload, std::span(frame));
    int result = 0;
    if (size != 0 && (transport_.method == kMethodTcp || transport_.method == kMethodTcp6)) {
        std::lock_guard lock(writeLock_);
        result = transport_.WriteComm(frame.data(), static_cast<int>(size));
    }
    lastSendResult_.store(result);
    if (resetAnswer) {
        pendingCount_ = 0;
    }
    return result == static_cast<int>(size) && size != 0 ? 1 : 0;
}

int CDevComm::RequestNamed(std::uint8_t cmd, std::uint8_t code, const std::string& name) {
    requestKind_.store(kKindNamed);
    const auto entry = BuildFileEntry(name, 1);
    if (!entry) {
        SetErrorText("STR_ERROR_PACKET");
        return 0;
    }
    return SendFrame(cmd, code, 1, 0, *entry, true);
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
        return SendFrame(cmd, code, 1, 0, *payload, false);
    }
    requestKind_.store(kKindFile);
    return SendFrame(cmd, code, 1, 0, *payload, true);
}

int CDevComm::SendRequest(std::uint8_t cmd, std::uint8_t code) {
    requestKind_.store(kKindEqInfo);
    return SendFrame(cmd, code, 1, 0, {}, true);
}

int CDevComm::RequestFile(std::uint8_t cmd, std::uint8_t code, const std::string& name,
                          std::uint32_t size) {
    requestKind_.store(kKindFile);
    const auto entry = BuildFileEntry(name, size);
    if (!entry) {
        SetErrorText("STR_ERROR_PACKET");
        return 0;
    }
    return SendFrame(cmd, code, 1, 0, *entry, true);
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
        const int ok = SendFrame(kCmdRequest, code, 1, 0, bytes, false);
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
    {
        std::lock_guard lock(uploadLock_);
        uploadComplete_ = false;
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
        if (!SendFrame(kCmdRequest, code, count, static_cast<std::uint8_t>(i),
                       std::span(data.data() + offset, size), false)) {
            uploadFailed_.store(true);
            break;
        }
        if (i < n) {
            std::this_thread::sleep_for(std::chrono::milliseconds(1));
        }
        uploadSent_.fetch_add(static_cast<std::int64_t>(size));
    }
    std::lock_guard lock(uploadLock_);
    uploadComplete_ = true;
    uploadDone_.notify_all();
}

void CDevComm::JoinUpload() {
    if (uploadThread_.joinable()) {
        uploadStop_.store(true);
        uploadThread_.join();
    }
}

int CDevComm::ReadSocket() {
    // Same bound as 41 polls with 10 ms pauses, but wakes the moment bytes arrive.
    const auto deadline = Clock::now() + kReadWindow;
    for (;;) {
        const int got = transport_.ReadComm(receive_.data(), static_cast<int>(receive_.size()), 10);
        if (got != 0) {
            return got;
        }
        const auto left =
            std::chrono::duration_cast<std::chrono::milliseconds>(deadline - Clock::now());
        if (left.count() <= 0) {
            return 0;
        }
        if (!transport_.IsOpen()) {
            std::this_thread::sleep_for(left);
            return 0;
        }
        transport_.WaitReadable(left);
    }
}

int CDevComm::ReceiveFrame() {
    EnsureBuffers();
    assembler_.Reset();
    int attempts = kFrameAttempts;
    bool socketRead = false;
    const auto deadline = Clock::now() + kFrameDeadline;
    for (;;) {
        std::span<const std::uint8_t> input;
        int got = 0;
        if (pendingCount_ > 0) {
            input = std::span<const std::uint8_t>(receive_.data() + pendingOffset_, pendingCount_);
            pendingCount_ = 0;
            got = static_cast<int>(input.size());
        } else {
            // A link closed here (Disconnect from another thread) has nothing more to give.
            if (!transport_.IsOpen()) {
                SetErrorText("STR_ERROR_TIMEOUT");
                return -1;
            }
            got = ReadSocket();
            socketRead = true;
            if (got > 0) {
                input =
                    std::span<const std::uint8_t>(receive_.data(), static_cast<std::size_t>(got));
            }
        }
        const std::uint8_t* base = input.data();
        const FrameAssembler::Result r = assembler_.Feed(input);
        switch (r.status) {
            case FrameAssembler::Status::Frame: {
                const FrameView& f = assembler_.frame();
                lastFrame_.cmd = f.header.cmd;
                lastFrame_.code = f.header.code;
                lastFrame_.count = f.header.count;
                lastFrame_.index = f.header.index;
                lastFrame_.length = f.payload.size();
                std::memcpy(lastFrame_.payload.data(), f.payload.data(), f.payload.size());
                pendingOffset_ = static_cast<std::size_t>(base - receive_.data()) + r.consumed;
                pendingCount_ = input.size() - r.consumed;
                return socketRead ? 2 : 1;
            }
            case FrameAssembler::Status::ErrorPacket:
                SetErrorText("STR_ERROR_PACKET");
                return -1;
            case FrameAssembler::Status::ErrorChecksum:
                SetErrorText("STR_ERROR_CHECKSUM");
                return -1;
            case FrameAssembler::Status::NeedMore:
                break;
        }
        // Input used up without an end marker. Bytes still flowing cost no attempt, only the
        // overall deadline; a silent or closed peer uses one attempt per read.
        if (got <= 0) {
            if (--attempts == 0) {
                SetErrorText("STR_ERROR_TIMEOUT");
                return -1;
            }
            if (got < 0 || !transport_.IsOpen()) {
                std::this_thread::sleep_for(kAttemptPause);
            } else {
                transport_.WaitReadable(kAttemptPause);
            }
        }
        if (Clock::now() >= deadline) {
            SetErrorText("STR_ERROR_TIMEOUT");
            return -1;
        }
    }
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
        const FrameView frame{
            FrameHeader{lastFrame_.cmd, lastFrame_.code, lastFrame_.count, lastFrame_.index},
            std::span<const std::uint8_t>(lastFrame_.payload.data(), lastFrame_.length)};
        const int progress = JoinFrame(frame);
        if (progress < 0 || progress >= 100) {
            return progress;
        }
        // A frame taken from bytes already read: move on to the next one at once.
        if (r != 1) {
            return progress;
        }
    }
}

int CDevComm::JoinFrame(const FrameView& frame) {
    const AnswerJoiner::Step step = joiner_.Add(frame);
    TerminateData();
    switch (step.outcome) {
        case AnswerJoiner::Outcome::ErrorSequence:
            SetErrorText("Communication Error!");
            return -1;
        case AnswerJoiner::Outcome::ErrorOverflow:
            SetErrorText("STR_ERROR_PACKET");
            return -1;
        case AnswerJoiner::Outcome::Complete:
            return 100;
        case AnswerJoiner::Outcome::Progress:
            break;
    }
    return step.progress;
}

const FileEntry* CDevComm::GetEntry(int i) const {
    if (i < 0 || static_cast<std::size_t>(i) >= entryCount_) {
        return nullptr;
    }
    return &entries_[static_cast<std::size_t>(i)];
}

void CDevComm::LoadEntryTable(const std::uint8_t* data, std::size_t length) {
    EnsureBuffers();
    // The table holds 400 records; a longer list is cut there.
    entryCount_ = std::min(length / kFileEntrySize, kEntryTableSize);
    for (std::size_t i = 0; i < entryCount_; ++i) {
        std::memcpy(entries_[i].data(), data + i * kFileEntrySize, kFileEntrySize);
    }
}

}  // namespace qv
