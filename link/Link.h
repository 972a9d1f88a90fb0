// The one owner of an open link to an instrument: the transport chosen at connect (TCP or
// USB), the receive buffer and the frame assembler. It lets one request and its answer
// through at a time (Exchange, under its own lock), lets commands out between the frames of
// an exchange from any thread (Send), and Close latches: after it began nothing is published
// and every call fails at once. No thread of its own; whoever calls waits, within deadlines.
#pragma once

#include <array>
#include <atomic>
#include <chrono>
#include <cstdint>
#include <functional>
#include <memory>
#include <mutex>
#include <span>
#include <string>
#include <vector>

#include "link/AnswerJoiner.h"
#include "link/CommandSet.h"
#include "link/FrameAssembler.h"
#include "link/LinkClock.h"
#include "link/Transport.h"

namespace qv {

class UsbBackend;

// Exchange's result when the stop flag became 1.
inline constexpr int kAnswerAborted = -2;

// One frame to send: cmd, code and payload; count and index are 1 and 0 for a request.
struct LinkFrame {
    std::uint8_t cmd = kCmdRequest;
    std::uint8_t code = 0;
    std::span<const std::uint8_t> payload;
    std::uint8_t count = 1;
    std::uint8_t index = 0;
};

// A request of the program (cmd 0x41) with code and payload.
inline LinkFrame RequestFrame(std::uint8_t code, std::span<const std::uint8_t> payload = {}) {
    return LinkFrame{kCmdRequest, code, payload, 1, 0};
}

// An answer, owned by whoever asked: the joined payloads (with a zero after them, for readers
// of text), the last frame received and the text of a failure.
class Answer {
  public:
    Answer();
    Answer(const Answer&) = delete;
    Answer& operator=(const Answer&) = delete;

    const std::uint8_t* data() const { return data_.data(); }
    std::size_t length() const { return joiner_.length(); }

    struct Frame {
        std::uint8_t cmd = 0, code = 0, count = 0, index = 0;
        std::array<std::uint8_t, kMaxPayload> payload{};
        std::size_t length = 0;
    };
    Frame last;
    std::string error;

    // Empty, numbering forgotten.
    void Reset();
    // The next frame must start an answer; what was joined stays until it does.
    void RestartNumbering() { joiner_.RestartNumbering(); }
    // Adds the last frame: -1 (error set), 100 when complete, else the progress in percent.
    int Join();

  private:
    std::vector<std::uint8_t> data_;
    AnswerJoiner joiner_;
};

class Link {
  public:
    using Sleeper = std::function<void(std::chrono::milliseconds)>;
    // Names the moment an open was asked for: the open publishes its transport only if no
    // Drop or Close came after the ticket was taken.
    using Ticket = std::uint64_t;

    Link();
    // Close.
    ~Link();
    Link(const Link&) = delete;
    Link& operator=(const Link&) = delete;

    // ---- Opening and closing; any thread, none of them waits on another's I/O. ----

    Ticket Take() const;
    // Connects over TCP (kMethodTcp or kMethodTcp6) to host on service. 1 open; 0 failed,
    // or overtaken by a Drop or Close (error text "STR_DEVCOM_ERR_CHKCABLE").
    int OpenTcp(int method, const std::string& host, const std::string& service, Ticket ticket);
    // Opens a device on backend and writes the handshake block; sleep replaces the older
    // class's handshake delay (tests). 1 open; 0 failed or overtaken.
    int OpenUsb(UsbBackend& backend, Ticket ticket, Sleeper sleep = {});
    // Takes an open transport of the caller's (tests, tools); null closes. False after Close.
    bool Attach(std::shared_ptr<Transport> transport);
    // Closes the open transport and any open still under way (a blocked read or connect
    // returns at once); a later open works.
    void Drop();
    // Drop, when ticket is still current: a job ends what it opened, never a newer one's.
    void DropIf(Ticket ticket);
    // Closes the open transport only; an open under way goes on.
    void Release();
    // Drop, and every later call fails at once.
    void Close();
    bool Closed() const;

    // Method of the open transport (kMethodTcp, kMethodTcp6, kMethodUsb), 0 with none.
    int Method() const;
    bool IsOpen() const;
    // The peer has ended the link, seen without reading; false with none.
    bool PeerGone() const;
    // Which USB class opened: 1 older (one handle), 2 newer (two pipes), 0 none.
    int UsbGeneration() const;

    // ---- Traffic ----

    // An answer may take deadline plus 1 s for every 4,096 bytes it has delivered so far,
    // counted from its request. A frame with index 0 starts the answer again and what came
    // before it no longer counts, so byte trickles and endless restarts still end near
    // deadline, while a steady slow link (a 100 KB screen at 7 KB/s) completes.
    static constexpr std::chrono::milliseconds kAnswerDeadline{10000};
    static constexpr std::size_t kGraceBytes = 4096;
    static constexpr std::chrono::milliseconds kGracePerUnit{1000};
    // Over TCP one frame also has its own deadline: 5 attempts, each a read window or, on a
    // closed peer, a pause.
    static constexpr std::chrono::milliseconds kAttemptPause{50};
    static constexpr int kFrameAttempts = 5;
    static constexpr std::chrono::milliseconds kFrameDeadline{2300};

    // Sends request (count 1, index 0) and receives its whole answer into answer: 100, -1
    // (answer.error and the error text set) or kAnswerAborted when *stop became 1. One at a
    // time; ends within the answer deadline whatever the peer sends, at once on Close.
    int Exchange(const LinkFrame& request, Answer& answer,
                 std::chrono::milliseconds deadline = kAnswerDeadline,
                 const std::atomic<int>* stop = nullptr);
    // Sends one frame that gets no answer (a command, an upload piece) from any thread; it
    // goes out whole between the frames of an exchange and leaves its answer alone. 1 sent;
    // 0 not ("STR_ERROR_PACKET" when it does not fit a frame, "STR_DEVCOM_ERR_CHKCABLE" when
    // the link did not take it).
    int Send(const LinkFrame& frame);
    // What the transport took for the last frame: bytes, 0 or -1.
    int LastSendResult() const { return lastSendResult_.load(); }

    // The same exchange a frame at a time, for callers that show progress. Each step holds
    // the exchange lock only while it runs.
    // Sends request and starts its answer in answer. 1 sent, 0 not.
    int Request(const LinkFrame& request, Answer& answer,
                std::chrono::milliseconds deadline = kAnswerDeadline);
    // Receives the next frame of the answer under way into answer.last: -1 (error set), 1
    // taken from bytes already read, 2 after a read.
    int ReceiveFrame(Answer& answer, const std::atomic<int>* stop = nullptr);
    // Receives the rest of the answer under way: as Exchange.
    int Receive(Answer& answer, const std::atomic<int>* stop = nullptr);

    // An exchange step is running (tests).
    bool Busy() const { return busy_.load(); }

    std::string ErrorText() const;
    void SetErrorText(const std::string& text);
    // The clock of the deadlines and pauses (null: the steady clock).
    void SetClock(LinkClock* clock);

  private:
    using TimePoint = LinkClock::TimePoint;

    std::shared_ptr<Transport> Current() const;
    // An open under way that Drop must reach; false when the ticket is stale.
    bool BeginOpen(const std::shared_ptr<Transport>& transport, Ticket ticket);
    // Publishes what opened; false (and closed) when the ticket went stale meanwhile.
    bool EndOpen(const std::shared_ptr<Transport>& transport, Ticket ticket, bool opened);
    void Fail(Answer* answer, const char* text);
    int RequestLocked(const LinkFrame& request, Answer& answer, std::chrono::milliseconds deadline);
    int ReceiveFrameLocked(Answer& answer, const std::atomic<int>* stop);
    int ReceiveLocked(Answer& answer, const std::atomic<int>* stop);
    int Write(const LinkFrame& frame);
    TimePoint AnswerDeadline(const Answer& answer) const;

    mutable std::mutex transportLock_;
    std::shared_ptr<Transport> transport_;
    std::vector<std::shared_ptr<Transport>> opening_;
    Ticket ticket_ = 0;
    bool closed_ = false;
    std::atomic<bool> closedFlag_{false};

    // One exchange step at a time; whole frames on the wire.
    std::mutex exchangeLock_;
    std::mutex writeLock_;
    std::atomic<bool> busy_{false};
    std::atomic<int> lastSendResult_{0};

    // Under exchangeLock_.
    std::vector<std::uint8_t> receive_;
    std::size_t pendingOffset_ = 0;
    std::size_t pendingCount_ = 0;
    bool pendingWhole_ = false;
    FrameAssembler assembler_;
    TimePoint answerStart_{};
    std::chrono::milliseconds answerBase_ = kAnswerDeadline;

    std::atomic<LinkClock*> clock_;
    mutable std::mutex errorLock_;
    std::string lastError_;
};

}  // namespace qv
