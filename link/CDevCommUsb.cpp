// The engine's USB operations: the same frames as over TCP, one 4,096-byte block per transfer.
#include <algorithm>
#include <cstring>
#include <system_error>

#include "link/CDevComm.h"
#include "link/CUsbDeviceVista.h"
#include "link/CUsbDeviceXP.h"
#include "link/DevOwner.h"

namespace qv {

namespace {

// What a block read that delivered nothing still holds: the scan rejects it.
constexpr std::size_t kFillBytes = 35;
constexpr std::uint8_t kFillByte = 0x34;

}  // namespace

void CDevComm::Sleep(std::chrono::milliseconds time) const {
    if (sleep_) {
        sleep_(time);
    } else {
        std::this_thread::sleep_for(time);
    }
}

bool CDevComm::UsbIsOpen() const {
    std::shared_lock lock(usbLock_);
    return (usbXp_ && usbXp_->IsOpen()) || (usbVista_ && usbVista_->IsOpen());
}

int CDevComm::UsbDeviceGeneration() const {
    std::shared_lock lock(usbLock_);
    return usbXp_ ? 1 : usbVista_ ? 2 : 0;
}

int CDevComm::OpenUsb(DevOwner* owner) {
    CloseUsb();
    owner_ = owner;
    usbEvents_.Reset();
    usbBusy_.store(0);
    OsVersion version;
    if (!versionEx_(version) && !version_(version)) {
        return -1;
    }
    const bool vista = version.platformId == kPlatformWin32Nt && version.major >= 6;
    UsbBackend& backend = usbBackend_ != nullptr ? *usbBackend_ : UsbBackend::System();
    EnsureBuffers();

    std::vector<std::uint8_t> handshake(kUsbBlockSize, 0);
    std::copy(kUsbHandshake.begin(), kUsbHandshake.end(), handshake.begin());
    if (vista) {
        auto device = std::make_unique<CUsbDeviceVista>(backend);
        if (!device->Open(0)) {
            return -1;
        }
        std::size_t written = 0;
        backend.Write(device->WritePipe(), handshake.data(), handshake.size(), written);
        std::unique_lock lock(usbLock_);
        usbVista_ = std::move(device);
    } else {
        auto device = std::make_unique<CUsbDeviceXP>(backend);
        if (!device->Open(0)) {
            return -1;
        }
        Sleep(kUsbXpHandshakeDelay);
        for (std::size_t at = 0; at < kUsbBlockSize; at += kUsbXpWriteSize) {
            std::size_t written = 0;
            backend.Write(device->Handle(), handshake.data() + at, kUsbXpWriteSize, written);
        }
        std::unique_lock lock(usbLock_);
        usbXp_ = std::move(device);
    }
    transport_.method = kMethodUsb;
    try {
        usbReader_ = std::thread(&CDevComm::UsbReaderThread, this);
    } catch (const std::system_error&) {
        CloseUsb();
        return -1;
    }
    return 1;
}

void CDevComm::CloseUsb() {
    // Closing the handles first ends a read another thread is blocked in; then the device
    // objects can go once nobody uses them.
    {
        std::shared_lock lock(usbLock_);
        if (usbXp_) {
            usbXp_->Close();
        }
        if (usbVista_) {
            usbVista_->Close();
        }
    }
    {
        std::unique_lock lock(usbLock_);
        usbXp_.reset();
        usbVista_.reset();
    }
    connected_.store(0);
    link_.store(0);
    usbEvents_.SignalStop();
    if (usbReader_.joinable()) {
        if (usbReader_.get_id() == std::this_thread::get_id()) {
            usbReader_.detach();
        } else {
            usbReader_.join();
        }
    }
    usbEvents_.Reset();
}

bool CDevComm::UsbWriteBlock(const std::uint8_t* block) {
    std::lock_guard write(writeLock_);
    if (usbVista_) {
        std::size_t written = 0;
        return usbVista_->Backend().Write(usbVista_->WritePipe(), block, kUsbBlockSize, written);
    }
    if (usbXp_) {
        for (std::size_t at = 0; at < kUsbBlockSize; at += kUsbXpWriteSize) {
            std::size_t written = 0;
            if (!usbXp_->Backend().Write(usbXp_->Handle(), block + at, kUsbXpWriteSize, written) ||
                written != kUsbXpWriteSize) {
                return false;
            }
        }
        return true;
    }
    return false;
}

int CDevComm::UsbSendRequest(std::uint8_t code, const std::uint8_t* payload, int length, int wake) {
    // Wait for a receive to get its first block before writing over its answer.
    for (int steps = 0; usbBusy_.load() != 0;) {
        Sleep(kUsbBusyStep);
        if (++steps == kUsbBusySteps) {
            usbBusy_.store(0);
            return 0;
        }
    }
    if (length < 0 || static_cast<std::size_t>(length) > kMaxPayload ||
        (payload == nullptr && length != 0)) {
        SetErrorText("STR_ERROR_PACKET");
        return 0;
    }
    EnsureBuffers();
    // A command gets no answer: it must not reset an answer another thread is receiving.
    if (code != REQ_CMD) {
        ResetAnswer();
    }
    std::vector<std::uint8_t> block(kUsbBlockSize, 0);
    const std::size_t size = EncodeFrame(
        FrameHeader{kCmdRequest, code, 1, 0},
        std::span<const std::uint8_t>(payload, static_cast<std::size_t>(length)), std::span(block));
    int result = 0;
    if (size != 0) {
        std::shared_lock lock(usbLock_);
        result = UsbWriteBlock(block.data()) ? 1 : 0;
    }
    if (result == 0) {
        SetErrorText("STR_DEVCOM_ERR_CHKCABLE");
    }
    lastSendResult_.store(result != 0 ? static_cast<int>(kUsbBlockSize) : 0);
    if (wake == 1) {
        usbEvents_.SignalRequest();
    }
    if (code != REQ_CMD) {
        pendingCount_ = 0;
    }
    return result;
}

int CDevComm::UsbRequestFile(std::uint8_t code, const std::string& name) {
    requestKind_.store(kKindFile);
    const auto entry = BuildFileEntry(name, kMaxAnswerBytes);
    if (!entry) {
        SetErrorText("STR_ERROR_PACKET");
        return 0;
    }
    return UsbSendRequest(code, entry->data(), static_cast<int>(entry->size()), 0);
}

int CDevComm::UsbSendText(const std::string& text) {
    requestKind_.store(kKindFile);
    const auto payload = BuildTextPayload(text);
    if (!payload) {
        SetErrorText("STR_ERROR_PACKET");
        return 0;
    }
    return UsbSendRequest(REQ_CMD, payload->data(), static_cast<int>(payload->size()), 0);
}

bool CDevComm::UsbReadBlock(std::vector<std::uint8_t>& block) {
    block.assign(kUsbBlockSize, 0);
    std::fill_n(block.begin(), kFillBytes, kFillByte);
    std::size_t got = 0;
    // The read's own result is not looked at: what did not arrive leaves the pattern.
    if (usbVista_) {
        usbVista_->Backend().Read(usbVista_->ReadPipe(), block.data(), block.size(), got);
        return true;
    }
    if (usbXp_) {
        usbXp_->Backend().Read(usbXp_->Handle(), block.data(), block.size(), got);
        return true;
    }
    return false;
}

int CDevComm::UsbReceive() {
    std::shared_lock lock(usbLock_);
    if (!usbXp_ && !usbVista_) {
        return -1;
    }
    EnsureBuffers();
    joiner_.RestartNumbering();
    std::vector<std::uint8_t> block;
    usbBusy_.store(1);
    const bool read = UsbReadBlock(block);
    usbBusy_.store(0);
    if (!read) {
        return -1;
    }
    for (;;) {
        // Whole frames from the block's start; after the last one comes padding.
        assembler_.Reset();
        std::size_t at = 0;
        bool took = false;
        while (at < block.size() && !(took && block[at] != kFrameStart)) {
            const auto result = assembler_.Feed(std::span(block).subspan(at));
            at += result.consumed;
            switch (result.status) {
                case FrameAssembler::Status::NeedMore:  // a frame without its end marker
                case FrameAssembler::Status::ErrorPacket:
                    assembler_.Reset();
                    SetErrorText("STR_ERROR_PACKET");
                    return -1;
                case FrameAssembler::Status::ErrorChecksum:
                    SetErrorText("STR_ERROR_CHECKSUM");
                    return -1;
                case FrameAssembler::Status::Frame:
                    break;
            }
            const FrameView& frame = assembler_.frame();
            lastFrame_.cmd = frame.header.cmd;
            lastFrame_.code = frame.header.code;
            lastFrame_.count = frame.header.count;
            lastFrame_.index = frame.header.index;
            const int progress = JoinFrame(frame);
            if (progress < 0 || progress >= 100) {
                return progress;
            }
            took = true;
        }
        if (!UsbReadBlock(block)) {
            return -1;
        }
    }
}

void CDevComm::UsbReaderThread() {
    if (!UsbIsOpen()) {
        return;
    }
    for (;;) {
        const ReaderEvents::Woken woken = usbEvents_.Wait(kUsbReaderWait);
        if (woken == ReaderEvents::Woken::Stop) {
            return;
        }
        if (woken == ReaderEvents::Woken::Request && UsbReceive() > 0 && owner_ != nullptr) {
            owner_->OnResponseReady(1);
        }
        std::this_thread::sleep_for(std::chrono::milliseconds(1));
    }
}

}  // namespace qv
