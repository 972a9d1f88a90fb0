#include "sim/SimUsbBackend.h"

#include <algorithm>
#include <cstring>

#include "link/CommandSet.h"
#include "link/FrameAssembler.h"

namespace qv::sim {

SimUsbBackend::SimUsbBackend(SimInstrument& instrument) : instrument_(instrument) {
    interfaces_[std::string(kUsbClassVista)].push_back(kDefaultPath);
}

SimUsbBackend::~SimUsbBackend() {
    std::unique_lock lock(lock_);
    for (auto& [number, handle] : handles_) {
        handle.closed = true;
    }
    changed_.notify_all();
    changed_.wait(lock, [this] {
        return std::all_of(handles_.begin(), handles_.end(),
                           [](const auto& entry) { return entry.second.active == 0; });
    });
}

void SimUsbBackend::AddInterface(std::string_view classGuid, const std::string& path) {
    std::lock_guard lock(lock_);
    interfaces_[std::string(classGuid)].push_back(path);
}

void SimUsbBackend::ClearInterfaces() {
    std::lock_guard lock(lock_);
    interfaces_.clear();
}

void SimUsbBackend::FailListing(unsigned error) {
    std::lock_guard lock(lock_);
    listingError_ = error;
}

void SimUsbBackend::RefuseOpen(const std::string& path, unsigned error) {
    std::lock_guard lock(lock_);
    refusals_[path] = error;
}

void SimUsbBackend::SetFaults(const SimUsbFaults& faults) {
    std::lock_guard lock(lock_);
    faults_ = faults;
}

void SimUsbBackend::SetReadTimeout(std::chrono::milliseconds timeout) {
    std::lock_guard lock(lock_);
    readTimeout_ = timeout;
}

void SimUsbBackend::Replug() {
    std::lock_guard lock(lock_);
    vanished_ = false;
    vanishPending_ = false;
}

bool SimUsbBackend::ListInterfaces(std::string_view classGuid, std::vector<std::string>& paths,
                                   unsigned& error) {
    std::lock_guard lock(lock_);
    paths.clear();
    if (listingError_ != 0) {
        error = listingError_;
        return false;
    }
    if (!vanished_) {
        if (const auto it = interfaces_.find(std::string(classGuid)); it != interfaces_.end()) {
            paths = it->second;
        }
    }
    return true;
}

UsbHandle SimUsbBackend::Open(const std::string& path, UsbShare share, unsigned& error) {
    std::lock_guard lock(lock_);
    opens_.push_back({path, Clock::now()});
    if (const auto it = refusals_.find(path); it != refusals_.end()) {
        error = it->second;
        return kInvalidUsbHandle;
    }
    Handle handle;
    handle.path = path;
    handle.device = path;
    if (const auto slash = path.rfind('\\');
        slash != std::string::npos && slash + 1 < path.size()) {
        const std::string_view pipe = std::string_view(path).substr(slash + 1);
        if (pipe == kUsbReadPipe || pipe == kUsbWritePipe) {
            handle.device = path.substr(0, slash);
            handle.canRead = pipe == kUsbReadPipe;
            handle.canWrite = pipe == kUsbWritePipe;
        }
    }
    const bool present =
        !vanished_ && std::any_of(interfaces_.begin(), interfaces_.end(), [&](const auto& entry) {
            return std::find(entry.second.begin(), entry.second.end(), handle.device) !=
                   entry.second.end();
        });
    if (!present) {
        error = kUsbErrorFileNotFound;
        return kInvalidUsbHandle;
    }
    for (const auto& [number, other] : handles_) {
        if (!other.closed && other.device == handle.device &&
            (other.exclusive || share == UsbShare::None)) {
            error = kUsbErrorSharingViolation;
            return kInvalidUsbHandle;
        }
    }
    handle.exclusive = share == UsbShare::None;
    // A fresh open of the device starts a fresh session: the handshake comes again.
    if (std::none_of(handles_.begin(), handles_.end(),
                     [&](const auto& entry) { return !entry.second.closed; })) {
        handshake_ = false;
        incoming_.clear();
        outgoing_.clear();
        outgoingOffset_ = 0;
    }
    const UsbHandle number = next_++;
    handles_[number] = std::move(handle);
    return number;
}

bool SimUsbBackend::Read(UsbHandle number, std::uint8_t* buffer, std::size_t length,
                         std::size_t& got, std::chrono::milliseconds timeout) {
    got = 0;
    std::unique_lock lock(lock_);
    auto it = handles_.find(number);
    if (it == handles_.end() || it->second.closed || !it->second.canRead || vanished_) {
        return false;
    }
    ++it->second.active;
    changed_.notify_all();
    const auto deadline = Clock::now() + std::min(timeout, readTimeout_);
    const auto ready = [&] {
        return it->second.closed || vanished_ ||
               (!faults_.stallRead && !outgoing_.empty() && Clock::now() >= answerReady_);
    };
    // An answer that is queued but not due yet wakes nobody: wait for its time too.
    while (!ready() && Clock::now() < deadline) {
        const auto until = !outgoing_.empty() && answerReady_ < deadline && !faults_.stallRead
                               ? answerReady_
                               : deadline;
        changed_.wait_until(lock, until);
    }
    bool ok = false;
    if (ready() && !it->second.closed && !vanished_) {
        std::vector<std::uint8_t>& block = outgoing_.front();
        const std::size_t left = block.size() - outgoingOffset_;
        std::size_t n = std::min(length, left);
        if (faults_.shortRead != 0) {
            n = std::min(n, faults_.shortRead);
        }
        const bool piece = faults_.splitBlock != 0 && faults_.splitBlock < n;
        if (piece) {
            n = faults_.splitBlock;
        }
        std::memcpy(buffer, block.data() + outgoingOffset_, n);
        got = n;
        // A piece is a transfer that timed out part way: the rest follows on the next read.
        ok = !piece;
        if (piece) {
            outgoingOffset_ += n;
        } else {
            outgoing_.pop_front();
            outgoingOffset_ = 0;
        }
        if (vanishPending_ && !piece) {
            vanished_ = true;
            vanishPending_ = false;
        }
    }
    --it->second.active;
    changed_.notify_all();
    return ok;
}

bool SimUsbBackend::Write(UsbHandle number, const std::uint8_t* data, std::size_t length,
                          std::size_t& written) {
    written = 0;
    std::unique_lock lock(lock_);
    const auto it = handles_.find(number);
    if (it == handles_.end() || it->second.closed || !it->second.canWrite || vanished_) {
        return false;
    }
    writes_.push_back({it->second.path, length, Clock::now()});
    std::size_t at = 0;
    while (at < length) {
        const std::size_t n = std::min(length - at, kUsbBlockSize - incoming_.size());
        incoming_.insert(incoming_.end(), data + at, data + at + n);
        at += n;
        if (incoming_.size() == kUsbBlockSize) {
            TakeBlock(lock);
        }
    }
    written = length;
    return true;
}

void SimUsbBackend::TakeBlock(std::unique_lock<std::mutex>& lock) {
    std::vector<std::uint8_t> block = std::move(incoming_);
    incoming_.clear();
    blocks_.push_back(block);
    if (!handshake_) {
        std::vector<std::uint8_t> expected(kUsbBlockSize, 0);
        std::copy(kUsbHandshake.begin(), kUsbHandshake.end(), expected.begin());
        // Anything before the handshake is not a request.
        handshake_ = block == expected;
        return;
    }
    FrameAssembler assembler;
    const auto result = assembler.Feed(block);
    if (result.status != FrameAssembler::Status::Frame) {
        return;
    }
    // The instrument may take its time: answer without holding the device's lock.
    const FrameView request = assembler.frame();
    lock.unlock();
    const Frames frames = instrument_.Handle(request, kUsbBlockSize);
    lock.lock();
    QueueAnswer(frames);
}

void SimUsbBackend::QueueAnswer(const Frames& frames) {
    const std::size_t perBlock = static_cast<std::size_t>(std::max(1, faults_.framesPerBlock));
    std::vector<std::uint8_t> block;
    std::size_t inBlock = 0;
    auto flush = [&] {
        if (inBlock == 0) {
            return;
        }
        block.resize(kUsbBlockSize, 0);
        outgoing_.push_back(std::move(block));
        block.clear();
        inBlock = 0;
    };
    for (const auto& frame : frames) {
        if (inBlock == perBlock || block.size() + frame.size() > kUsbBlockSize) {
            flush();
        }
        std::size_t size = frame.size();
        if (faults_.noEndMarker && inBlock == 0 && size > 0) {
            --size;  // the end marker
        }
        block.insert(block.end(), frame.begin(), frame.begin() + static_cast<std::ptrdiff_t>(size));
        ++inBlock;
    }
    flush();
    answerReady_ = Clock::now() + std::chrono::milliseconds(faults_.answerDelayMs);
    if (faults_.vanishMidAnswer && !outgoing_.empty()) {
        outgoing_.resize(1);
        vanishPending_ = true;
    }
    changed_.notify_all();
}

void SimUsbBackend::Close(UsbHandle number) {
    std::unique_lock lock(lock_);
    const auto it = handles_.find(number);
    if (it == handles_.end() || it->second.closed) {
        return;
    }
    it->second.closed = true;
    changed_.notify_all();
    changed_.wait(lock, [&] { return it->second.active == 0; });
}

std::vector<SimUsbBackend::WriteRecord> SimUsbBackend::Writes() const {
    std::lock_guard lock(lock_);
    return writes_;
}

std::vector<SimUsbBackend::OpenRecord> SimUsbBackend::Opens() const {
    std::lock_guard lock(lock_);
    return opens_;
}

std::vector<std::vector<std::uint8_t>> SimUsbBackend::Blocks() const {
    std::lock_guard lock(lock_);
    return blocks_;
}

bool SimUsbBackend::HandshakeSeen() const {
    std::lock_guard lock(lock_);
    return handshake_;
}

int SimUsbBackend::OpenHandles() const {
    std::lock_guard lock(lock_);
    return static_cast<int>(std::count_if(handles_.begin(), handles_.end(),
                                          [](const auto& entry) { return !entry.second.closed; }));
}

bool SimUsbBackend::WaitForReader(std::chrono::milliseconds timeout) const {
    std::unique_lock lock(lock_);
    return changed_.wait_for(lock, timeout, [this] {
        return std::any_of(handles_.begin(), handles_.end(),
                           [](const auto& entry) { return entry.second.active > 0; });
    });
}

bool SimUsbBackend::Vanished() const {
    std::lock_guard lock(lock_);
    return vanished_;
}

}  // namespace qv::sim
