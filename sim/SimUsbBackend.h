// The simulated instrument's USB personality, in-process: a UsbBackend whose devices answer
// 4,096-byte request blocks from a SimInstrument, one or more frames per answer block, after
// the handshake block. Faults of its own model a bad device or cable.
#pragma once

#include <chrono>
#include <condition_variable>
#include <cstdint>
#include <deque>
#include <map>
#include <mutex>
#include <set>
#include <string>
#include <vector>

#include "link/UsbBackend.h"
#include "sim/SimInstrument.h"

namespace qv::sim {

struct SimUsbFaults {
    bool stallRead = false;        // reads deliver nothing until their time-out or a close
    std::size_t shortRead = 0;     // a read delivers only this many bytes (0 = the block)
    bool noEndMarker = false;      // an answer block's first frame loses its end marker
    bool vanishMidAnswer = false;  // the device goes away after an answer's first block
    int framesPerBlock = 1;        // answer frames packed into one block, as many as fit
    std::size_t splitBlock = 0;    // a block comes in pieces of this many bytes, each read but
                                   // the last one ending as a transfer that timed out part way
    int answerDelayMs = 0;         // an answer's blocks can be read this long after the request
};

class SimUsbBackend : public UsbBackend {
  public:
    using Clock = std::chrono::steady_clock;
    static constexpr const char* kDefaultPath = "\\\\?\\usb#vid_5153&pid_0001#sim0";

    // Starts with one device of the newer class at kDefaultPath.
    explicit SimUsbBackend(SimInstrument& instrument);
    ~SimUsbBackend() override;
    SimUsbBackend(const SimUsbBackend&) = delete;
    SimUsbBackend& operator=(const SimUsbBackend&) = delete;

    bool ListInterfaces(std::string_view classGuid, std::vector<std::string>& paths,
                        unsigned& error) override;
    UsbHandle Open(const std::string& path, UsbShare share, unsigned& error) override;
    // Waits no longer than timeout nor the read time-out set here.
    bool Read(UsbHandle handle, std::uint8_t* buffer, std::size_t length, std::size_t& got,
              std::chrono::milliseconds timeout) override;
    bool Write(UsbHandle handle, const std::uint8_t* data, std::size_t length,
               std::size_t& written) override;
    void Close(UsbHandle handle) override;

    // The devices present, by interface class.
    void AddInterface(std::string_view classGuid, const std::string& path);
    void ClearInterfaces();
    // Listing fails with this code (0: lists again).
    void FailListing(unsigned error);
    // Opening exactly this path (a device or a pipe path) fails with the code.
    void RefuseOpen(const std::string& path, unsigned error);
    void SetFaults(const SimUsbFaults& faults);
    void SetReadTimeout(std::chrono::milliseconds timeout);
    // A device that vanished is present again.
    void Replug();

    struct WriteRecord {
        std::string path;
        std::size_t size;
        Clock::time_point at;
    };
    struct OpenRecord {
        std::string path;
        Clock::time_point at;
    };
    std::vector<WriteRecord> Writes() const;
    std::vector<OpenRecord> Opens() const;
    // Whole request blocks as the device took them, the handshake first.
    std::vector<std::vector<std::uint8_t>> Blocks() const;
    bool HandshakeSeen() const;
    int OpenHandles() const;
    // Waits up to timeout until a read is blocked in the device; whether one is.
    bool WaitForReader(std::chrono::milliseconds timeout) const;
    bool Vanished() const;

  private:
    struct Handle {
        std::string device;
        std::string path;
        bool canRead = true;
        bool canWrite = true;
        bool exclusive = false;
        bool closed = false;
        int active = 0;
    };
    void TakeBlock(std::unique_lock<std::mutex>& lock);
    void QueueAnswer(const Frames& frames);

    SimInstrument& instrument_;
    mutable std::mutex lock_;
    mutable std::condition_variable changed_;
    std::map<std::string, std::vector<std::string>> interfaces_;
    std::map<std::string, unsigned> refusals_;
    unsigned listingError_ = 0;
    SimUsbFaults faults_;
    std::chrono::milliseconds readTimeout_ = kUsbReadTimeout;
    std::map<UsbHandle, Handle> handles_;
    UsbHandle next_ = 1;

    std::vector<std::uint8_t> incoming_;  // a request block being written in pieces
    std::deque<std::vector<std::uint8_t>> outgoing_;
    std::size_t outgoingOffset_ = 0;   // of the front block, already read (splitBlock)
    Clock::time_point answerReady_{};  // when the queued answer may be read
    bool handshake_ = false;
    bool vanishPending_ = false;
    bool vanished_ = false;
    std::vector<WriteRecord> writes_;
    std::vector<OpenRecord> opens_;
    std::vector<std::vector<std::uint8_t>> blocks_;
};

}  // namespace qv::sim
