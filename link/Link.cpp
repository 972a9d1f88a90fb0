#include "link/Link.h"

#include <algorithm>
#include <cstring>
#include <utility>

#include "link/CInterface.h"
#include "link/UsbBlockTransport.h"

namespace qv {

using std::chrono::milliseconds;

namespace {

milliseconds Until(LinkClock::TimePoint deadline, LinkClock::TimePoint now) {
    return std::chrono::ceil<milliseconds>(deadline - now);
}

// Marks a step of the exchange as running, for Busy.
struct BusyMark {
    explicit BusyMark(std::atomic<bool>& flag) : flag_(flag) { flag_.store(true); }
    ~BusyMark() { flag_.store(false); }
    BusyMark(const BusyMark&) = delete;
    BusyMark& operator=(const BusyMark&) = delete;
    std::atomic<bool>& flag_;
};

}  // namespace

// ---- Answer ----

Answer::Answer()
    : data_(kMaxAnswerBytes + 1, 0),
      joiner_(std::span<std::uint8_t>(data_.data(), kMaxAnswerBytes)) {}

void Answer::Reset() {
    joiner_.Reset();
    data_[0] = 0;
    error.clear();
}

int Answer::Join() {
    const FrameView frame{FrameHeader{last.cmd, last.code, last.count, last.index},
                          std::span<const std::uint8_t>(last.payload.data(), last.length)};
    const AnswerJoiner::Step step = joiner_.Add(frame);
    data_[joiner_.length()] = 0;
    switch (step.outcome) {
        case AnswerJoiner::Outcome::ErrorSequence:
            error = "Communication Error!";
            return -1;
        case AnswerJoiner::Outcome::ErrorOverflow:
            error = "STR_ERROR_PACKET";
            return -1;
        case AnswerJoiner::Outcome::Complete:
            return 100;
        case AnswerJoiner::Outcome::Progress:
            break;
    }
    return step.progress;
}

// ---- opening and closing ----

Link::Link() : receive_(kMaxAnswerBytes, 0), clock_(&LinkClock::Steady()) {}

Link::~Link() {
    Close();
}

void Link::SetClock(LinkClock* clock) {
    clock_.store(clock != nullptr ? clock : &LinkClock::Steady());
}

std::shared_ptr<Transport> Link::Current() const {
    std::lock_guard lock(transportLock_);
    return transport_;
}

Link::Ticket Link::Take() const {
    std::lock_guard lock(transportLock_);
    return ticket_;
}

bool Link::BeginOpen(const std::shared_ptr<Transport>& transport, Ticket ticket) {
    std::lock_guard lock(transportLock_);
    if (closed_ || ticket != ticket_) {
        return false;
    }
    opening_.push_back(transport);
    return true;
}

bool Link::EndOpen(const std::shared_ptr<Transport>& transport, Ticket ticket, bool opened) {
    std::shared_ptr<Transport> old;
    bool published = false;
    {
        std::lock_guard lock(transportLock_);
        std::erase(opening_, transport);
        if (opened && !closed_ && ticket == ticket_) {
            old = std::exchange(transport_, transport);
            published = true;
        }
    }
    if (old) {
        old->Close();
    }
    if (!published) {
        transport->Close();
    }
    return published;
}

int Link::OpenTcp(int method, const std::string& host, const std::string& service, Ticket ticket) {
    auto tcp = std::make_shared<CInterface>(method);
    tcp->SetService(service);
    // Registered before it connects, so that Drop and Close end a connect in progress.
    if (!BeginOpen(tcp, ticket) || !EndOpen(tcp, ticket, tcp->Open(host.c_str()))) {
        SetErrorText("STR_DEVCOM_ERR_CHKCABLE");
        return 0;
    }
    return 1;
}

int Link::OpenUsb(UsbBackend& backend, Ticket ticket, Sleeper sleep) {
    auto usb = std::make_shared<UsbBlockTransport>(backend, std::move(sleep), clock_.load());
    // Registered before it opens, so that Close ends the older class's handshake delay.
    if (!BeginOpen(usb, ticket) || !EndOpen(usb, ticket, usb->Open())) {
        return 0;
    }
    return 1;
}

bool Link::Attach(std::shared_ptr<Transport> transport) {
    std::shared_ptr<Transport> old;
    {
        std::lock_guard lock(transportLock_);
        if (closed_) {
            if (transport) {
                transport->Close();
            }
            return false;
        }
        old = std::exchange(transport_, std::move(transport));
    }
    if (old) {
        old->Close();
    }
    return true;
}

void Link::Drop() {
    std::shared_ptr<Transport> taken;
    std::vector<std::shared_ptr<Transport>> opening;
    {
        std::lock_guard lock(transportLock_);
        ++ticket_;
        taken = std::exchange(transport_, nullptr);
        opening = opening_;
    }
    if (taken) {
        taken->Close();
    }
    for (const auto& t : opening) {
        t->Close();
    }
}

void Link::DropIf(Ticket ticket) {
    {
        std::lock_guard lock(transportLock_);
        if (ticket != ticket_) {
            return;
        }
    }
    Drop();
}

void Link::Release() {
    std::shared_ptr<Transport> taken;
    {
        std::lock_guard lock(transportLock_);
        taken = std::exchange(transport_, nullptr);
    }
    if (taken) {
        taken->Close();
    }
}

void Link::Close() {
    {
        std::lock_guard lock(transportLock_);
        closed_ = true;
        closedFlag_.store(true);
    }
    Drop();
}

bool Link::Closed() const {
    return closedFlag_.load();
}

int Link::Method() const {
    const auto t = Current();
    return t ? t->Method() : 0;
}

bool Link::IsOpen() const {
    const auto t = Current();
    return t && t->IsOpen();
}

bool Link::PeerGone() const {
    const auto t = Current();
    return t && t->PeerGone();
}

int Link::UsbGeneration() const {
    const auto t = Current();
    const auto* usb = dynamic_cast<const UsbBlockTransport*>(t.get());
    return usb != nullptr ? usb->Generation() : 0;
}

std::string Link::ErrorText() const {
    std::lock_guard lock(errorLock_);
    return lastError_;
}

void Link::SetErrorText(const std::string& text) {
    std::lock_guard lock(errorLock_);
    lastError_ = text;
}

void Link::Fail(Answer* answer, const char* text) {
    if (answer != nullptr) {
        answer->error = text;
    }
    SetErrorText(text);
}

// ---- traffic ----

int Link::Write(const LinkFrame& frame) {
    std::array<std::uint8_t, kMaxEncodedFrame> bytes;
    const std::size_t size =
        EncodeFrame(FrameHeader{frame.cmd, frame.code, frame.count, frame.index}, frame.payload,
                    std::span(bytes));
    const auto transport = Closed() ? nullptr : Current();
    int result = 0;
    if (size != 0 && transport) {
        std::lock_guard lock(writeLock_);
        result = transport->WriteFrame(std::span<const std::uint8_t>(bytes.data(), size));
    }
    lastSendResult_.store(result);
    if (result <= 0) {
        // Not sent: say so, rather than leave an older text standing.
        return size == 0 ? -1 : 0;
    }
    return 1;
}

int Link::Send(const LinkFrame& frame) {
    const int sent = Write(frame);
    if (sent <= 0) {
        SetErrorText(sent < 0 ? "STR_ERROR_PACKET" : "STR_DEVCOM_ERR_CHKCABLE");
        return 0;
    }
    return 1;
}

int Link::RequestLocked(const LinkFrame& request, Answer& answer, milliseconds deadline) {
    pendingCount_ = 0;
    pendingOffset_ = 0;
    assembler_.Reset();
    answer.Reset();
    answerStart_ = clock_.load()->Now();
    answerBase_ = deadline;
    const int sent = Write(request);
    if (sent <= 0) {
        Fail(&answer, sent < 0 ? "STR_ERROR_PACKET" : "STR_DEVCOM_ERR_CHKCABLE");
        return 0;
    }
    return 1;
}

int Link::Request(const LinkFrame& request, Answer& answer, milliseconds deadline) {
    std::lock_guard lock(exchangeLock_);
    BusyMark busy(busy_);
    return RequestLocked(request, answer, deadline);
}

Link::TimePoint Link::AnswerDeadline(const Answer& answer) const {
    const auto units = static_cast<milliseconds::rep>(answer.length() / kGraceBytes);
    return answerStart_ + answerBase_ + kGracePerUnit * units;
}

int Link::ReceiveFrame(Answer& answer, const std::atomic<int>* stop) {
    std::lock_guard lock(exchangeLock_);
    BusyMark busy(busy_);
    return ReceiveFrameLocked(answer, stop);
}

int Link::ReceiveFrameLocked(Answer& answer, const std::atomic<int>* stop) {
    LinkClock& clock = *clock_.load();
    const auto transport = Closed() ? nullptr : Current();
    assembler_.Reset();
    int attempts = kFrameAttempts;
    bool read = false;
    const auto frameDeadline = clock.Now() + kFrameDeadline;
    const auto answerDeadline = AnswerDeadline(answer);
    for (;;) {
        if (stop != nullptr && stop->load() == 1) {
            return -1;
        }
        const auto now = clock.Now();
        // The answer's deadline holds whatever flows; over TCP one frame also has its own.
        const bool whole = transport && transport->ReadsWholeFrames();
        const auto until = whole ? answerDeadline : std::min(answerDeadline, frameDeadline);
        if (now >= until || !transport) {
            Fail(&answer, "STR_ERROR_TIMEOUT");
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
                Answer::Frame& last = answer.last;
                last.cmd = f.header.cmd;
                last.code = f.header.code;
                last.count = f.header.count;
                last.index = f.header.index;
                last.length = f.payload.size();
                std::memcpy(last.payload.data(), f.payload.data(), f.payload.size());
                pendingOffset_ = static_cast<std::size_t>(base - receive_.data()) + r.consumed;
                pendingCount_ = input.size() - r.consumed;
                pendingWhole_ = inputWhole;
                return read ? 2 : 1;
            }
            case FrameAssembler::Status::ErrorPacket:
                Fail(&answer, "STR_ERROR_PACKET");
                return -1;
            case FrameAssembler::Status::ErrorChecksum:
                Fail(&answer, "STR_ERROR_CHECKSUM");
                return -1;
            case FrameAssembler::Status::NeedMore:
                break;
        }
        if (got > 0 && inputWhole) {
            // A frame of a USB block has no end marker: it never continues in the next one.
            assembler_.Reset();
            Fail(&answer, "STR_ERROR_PACKET");
            return -1;
        }
        // Input used up without an end marker. Bytes still flowing cost no attempt, only the
        // deadlines; a silent or closed peer uses one attempt per read.
        if (got <= 0) {
            if (got < 0 && !transport->IsOpen()) {
                // Closed here, not by the peer: nothing more will come.
                Fail(&answer, "STR_ERROR_TIMEOUT");
                return -1;
            }
            if (--attempts == 0) {
                Fail(&answer, "STR_ERROR_TIMEOUT");
                return -1;
            }
            if (got < 0) {
                clock.Sleep(std::min(kAttemptPause, Until(until, clock.Now())));
            }
        }
    }
}

int Link::ReceiveLocked(Answer& answer, const std::atomic<int>* stop) {
    const auto stopped = [stop] { return stop != nullptr && stop->load() == 1; };
    for (;;) {
        if (stopped()) {
            return kAnswerAborted;
        }
        const int r = ReceiveFrameLocked(answer, stop);
        if (stopped()) {
            return kAnswerAborted;
        }
        if (r <= 0) {
            return -1;
        }
        const int progress = answer.Join();
        if (progress < 0) {
            SetErrorText(answer.error);
            return -1;
        }
        if (progress >= 100) {
            return 100;
        }
    }
}

int Link::Receive(Answer& answer, const std::atomic<int>* stop) {
    std::lock_guard lock(exchangeLock_);
    BusyMark busy(busy_);
    return ReceiveLocked(answer, stop);
}

int Link::Exchange(const LinkFrame& request, Answer& answer, milliseconds deadline,
                   const std::atomic<int>* stop) {
    std::lock_guard lock(exchangeLock_);
    BusyMark busy(busy_);
    if (RequestLocked(request, answer, deadline) != 1) {
        return -1;
    }
    return ReceiveLocked(answer, stop);
}

}  // namespace qv
