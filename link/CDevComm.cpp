#include "link/CDevComm.h"

#include <algorithm>
#include <cstring>
#include <system_error>
#include <utility>

#include "link/CInterface.h"
#include "link/DevOwner.h"

namespace qv {

using std::chrono::milliseconds;

namespace {

milliseconds Until(LinkClock::TimePoint deadline, LinkClock::TimePoint now) {
    return std::chrono::ceil<milliseconds>(deadline - now);
}

}  // namespace

CDevComm::CDevComm() = default;

CDevComm::~CDevComm() {
    Close();
    // Destroyed from its own callback: the reader cannot be joined, and must not outlive us.
    std::lock_guard lock(readerLock_);
    if (reader_.joinable()) {
        reader_.detach();
    }
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

void CDevComm::Sleep(milliseconds time) {
    if (sleep_) {
        sleep_(time);
    } else {
        clock_->Sleep(time);
    }
}

// ---- the transport ----

std::shared_ptr<Transport> CDevComm::ActiveTransport() const {
    std::lock_guard lock(transportLock_);
    return transport_;
}

void CDevComm::Publish(std::shared_ptr<Transport> transport) {
    std::shared_ptr<Transport> old;
    {
        std::lock_guard lock(transportLock_);
        old = std::exchange(transport_, std::move(transport));
    }
    if (old) {
        old->Close();
    }
}

std::shared_ptr<Transport> CDevComm::Unpublish(const Transport* transport) {
    std::lock_guard lock(transportLock_);
    if (transport != nullptr && transport_.get() != transport) {
        return nullptr;
    }
    return std::exchange(transport_, nullptr);
}

void CDevComm::Attach(std::shared_ptr<Transport> transport) {
    EnsureBuffers();
    pendingCount_ = 0;
    StartAnswerDeadline();
    if (transport) {
        method_.store(transport->Method());
    }
    Publish(std::move(transport));
}

int CDevComm::ActiveMethod() const {
    const auto t = ActiveTransport();
    return t ? t->Method() : 0;
}

bool CDevComm::PeerGone() const {
    const auto t = ActiveTransport();
    return t && t->PeerGone();
}

int CDevComm::Connect(int method) {
    EnsureBuffers();
    requestKind_.store(kKindConnect);
    pendingCount_ = 0;
    method_.store(method);
    StartAnswerDeadline();
    const auto current = ActiveTransport();
    // An IPv4 connect leaves an open socket alone and fails; IPv6 closes it first.
    const bool socketOpen = current && current->Method() != kMethodUsb && current->IsOpen();
    if (method == kMethodTcp && socketOpen) {
        SetErrorText("STR_DEVCOM_ERR_CHKCABLE");
        link_.store(0);
        return 0;
    }
    auto tcp = std::make_shared<CInterface>(method);
    tcp->SetService(service_);
    // Published before it connects, so that Close ends a connect in progress.
    Publish(tcp);
    if (!tcp->Open(hostAddress_.c_str()) || ActiveTransport() != tcp) {
        if (const auto taken = Unpublish(tcp.get())) {
            taken->Close();
        }
        SetErrorText("STR_DEVCOM_ERR_CHKCABLE");
        link_.store(0);
        return 0;
    }
    connected_.store(1);
    link_.store(1);
    return 1;
}

int CDevComm::Disconnect() {
    // Both TCP families close their socket: one socket per connect, never leaked.
    const auto current = ActiveTransport();
    if (current && current->Method() != kMethodUsb) {
        if (const auto taken = Unpublish(current.get())) {
            taken->Close();
        }
    }
    connected_.store(0);
    link_.store(0);
    return 0;
}

void CDevComm::Close() {
    if (const auto taken = Unpublish(nullptr)) {
        taken->Close();
    }
    connected_.store(0);
    link_.store(0);
    StopReader();
    if (uploadThread_.joinable() && uploadThread_.get_id() != std::this_thread::get_id()) {
        JoinUpload();
    }
}

// ---- requests ----

void CDevComm::ResetAnswer() {
    std::memset(receive_.data(), 0, receive_.size());
    pendingCount_ = 0;
    pendingOffset_ = 0;
    assembler_.Reset();
    joiner_.Reset();
    TerminateData();
    StartAnswerDeadline();
}

void CDevComm::StartAnswerDeadline() {
    answerDeadline_.store((clock_->Now() + answerDeadlineLength_).time_since_epoch().count());
}

LinkClock::TimePoint CDevComm::AnswerDeadline() const {
    return LinkClock::TimePoint(LinkClock::TimePoint::duration(answerDeadline_.load()));
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
    const auto transport = ActiveTransport();
    int result = 0;
    if (size != 0 && transport) {
        result = transport->WriteFrame(std::span<const std::uint8_t>(frame.data(), size));
    }
    lastSendResult_.store(result);
    if (resetAnswer) {
        pendingCount_ = 0;
    }
    if (result <= 0) {
        // Not sent: say so, rather than leave an older text standing.
        SetErrorText(size == 0 ? "STR_ERROR_PACKET" : "STR_DEVCOM_ERR_CHKCABLE");
        return 0;
    }
    return 1;
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

int CDevComm::SendCommand(const std::string& text) {
    return SendText(kCmdRequest, REQ_CMD, text);
}

int CDevComm::RequestScreen() {
    return RequestFile(kCmdRequest, REQ_SCREEN, std::string(kScreenFileName), kScreenFileSize);
}

int CDevComm::RequestEquipment(bool wakeReader) {
    const int sent = SendRequest(kCmdRequest, REQ_EQINFO);
    if (sent == 1 && wakeReader) {
        WakeReader();
    }
    return sent;
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
    EnsureBuffers();
    const auto transport = ActiveTransport();
    assembler_.Reset();
    int attempts = kFrameAttempts;
    bool read = false;
    const auto frameDeadline = clock_->Now() + kFrameDeadline;
    const auto answerDeadline = AnswerDeadline();
    for (;;) {
        if (receiveAbort_ != nullptr && receiveAbort_->load() == 1) {
            return -1;
        }
        const auto now = clock_->Now();
        // The answer's deadline holds whatever flows; over TCP one frame also has its own.
        const bool whole = transport && transport->ReadsWholeFrames();
        const auto until = whole ? answerDeadline : std::min(answerDeadline, frameDeadline);
        if (now >= until || !transport) {
            SetErrorText("STR_ERROR_TIMEOUT");
            return -1;
        }
        std::span<const std::uint8_t> input;
        int got = 0;
        bool inputWhole = whole;
        if (pendingCount_ > 0) {
            input = std::span<const std::uint8_t>(receive_.data() + pendingOffset_, pendingCount_);
            inputWhole = pendingWhole_;
            pendingCount_ = 0;
            got = static_cast<int>(input.size());
        } else {
            got = transport->Read(std::span(receive_), Until(until, now));
            read = true;
            if (got > 0) {
                input = std::span<const std::uint8_t>(
                    receive_.data(), std::min(static_cast<std::size_t>(got), receive_.size()));
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
                pendingWhole_ = inputWhole;
                return read ? 2 : 1;
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
        if (got > 0 && inputWhole) {
            // A frame of a USB block has no end marker: it never continues in the next one.
            assembler_.Reset();
            SetErrorText("STR_ERROR_PACKET");
            return -1;
        }
        // Input used up without an end marker. Bytes still flowing cost no attempt, only the
        // deadlines; a silent or closed peer uses one attempt per read.
        if (got <= 0) {
            if (got < 0 && !transport->IsOpen()) {
                // Closed here, not by the peer: nothing more will come.
                SetErrorText("STR_ERROR_TIMEOUT");
                return -1;
            }
            if (--attempts == 0) {
                SetErrorText("STR_ERROR_TIMEOUT");
                return -1;
            }
            if (got < 0) {
                Sleep(std::min(kAttemptPause, Until(until, clock_->Now())));
            }
        }
    }
}

int CDevComm::JoinLastFrame() {
    const FrameView frame{
        FrameHeader{lastFrame_.cmd, lastFrame_.code, lastFrame_.count, lastFrame_.index},
        std::span<const std::uint8_t>(lastFrame_.payload.data(), lastFrame_.length)};
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
        const int progress = JoinLastFrame();
        if (progress < 0 || progress >= 100) {
            return progress;
        }
        // A frame taken from bytes already read: move on to the next one at once.
        if (r != 1) {
            return progress;
        }
    }
}

int CDevComm::ReceiveAnswer(const std::atomic<int>* abort) {
    const auto aborted = [abort] { return abort != nullptr && abort->load() == 1; };
    // ReceiveFrame looks at the flag between reads too, so an abort is seen within one read.
    struct Watch {
        const std::atomic<int>*& slot;
        ~Watch() { slot = nullptr; }
    } watch{receiveAbort_};
    receiveAbort_ = abort;
    // A request sent now must wait until the first frame is in (UsbSendRequest).
    usbBusy_.store(1);
    bool first = true;
    for (;;) {
        if (aborted()) {
            usbBusy_.store(0);
            return kAnswerAborted;
        }
        const int r = ReceiveFrame();
        if (first) {
            usbBusy_.store(0);
            first = false;
        }
        if (aborted()) {
            return kAnswerAborted;
        }
        if (r <= 0) {
            return -1;
        }
        const int progress = JoinLastFrame();
        if (progress < 0) {
            return -1;
        }
        if (progress >= 100) {
            return 100;
        }
    }
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

// ---- the reader thread ----

bool CDevComm::EnsureReader() {
    std::lock_guard lock(readerLock_);
    if (readerRunning_.load()) {
        return true;
    }
    if (reader_.joinable()) {
        // One that ended after a Close from its own callback.
        if (reader_.get_id() == std::this_thread::get_id()) {
            return false;
        }
        reader_.join();
    }
    events_.Reset();
    readerAbort_.store(0);
    readerRunning_.store(true);
    try {
        reader_ = std::thread(&CDevComm::ReaderLoop, this);
    } catch (const std::system_error&) {
        readerRunning_.store(false);
        return false;
    }
    return true;
}

void CDevComm::StopReader() {
    readerAbort_.store(1);
    events_.SignalStop();
    std::thread reader;
    {
        std::lock_guard lock(readerLock_);
        if (!reader_.joinable() || reader_.get_id() == std::this_thread::get_id()) {
            return;
        }
        reader = std::move(reader_);
    }
    reader.join();
    events_.Reset();
}

void CDevComm::WakeReader() {
    if (EnsureReader()) {
        events_.SignalRequest();
    }
}

void CDevComm::ReaderLoop() {
    readerId_.store(std::this_thread::get_id());
    for (;;) {
        const ReaderEvents::Woken woken = events_.Wait(kUsbReaderWait);
        if (woken == ReaderEvents::Woken::Stop) {
            break;
        }
        if (woken == ReaderEvents::Woken::Request) {
            const int result = ReceiveAnswer(&readerAbort_);
            if (result != kAnswerAborted) {
                Notify(result);
            }
        }
    }
    readerId_.store(std::thread::id());
    readerRunning_.store(false);
}

void CDevComm::Notify(int result) {
    std::function<void(int)> callback;
    {
        std::lock_guard lock(callbackLock_);
        if (!callback_) {
            return;
        }
        callback = callback_;
        callbackRunning_ = true;
    }
    callback(result);
    {
        std::lock_guard lock(callbackLock_);
        callbackRunning_ = false;
    }
    callbackIdle_.notify_all();
}

void CDevComm::SetResponseCallback(std::function<void(int)> callback) {
    std::unique_lock lock(callbackLock_);
    callback_ = std::move(callback);
    if (readerId_.load() != std::this_thread::get_id()) {
        callbackIdle_.wait(lock, [this] { return !callbackRunning_; });
    }
}

}  // namespace qv
