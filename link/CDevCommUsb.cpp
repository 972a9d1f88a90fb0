// The engine's USB operations: the same frames as over TCP, through the USB block transport.
#include <algorithm>

#include "link/CDevComm.h"
#include "link/DevOwner.h"
#include "link/LinkPlatform.h"
#include "link/UsbBlockTransport.h"

namespace qv {

bool CDevComm::UsbIsOpen() const {
    const auto transport = ActiveTransport();
    return transport && transport->Method() == kMethodUsb && transport->IsOpen();
}

int CDevComm::UsbDeviceGeneration() const {
    const auto transport = ActiveTransport();
    const auto* usb = dynamic_cast<const UsbBlockTransport*>(transport.get());
    return usb != nullptr ? usb->Generation() : 0;
}

int CDevComm::OpenUsb(DevOwner* owner) {
    CloseUsb();
    if (owner != nullptr) {
        SetResponseCallback([owner](int result) {
            if (result > 0) {
                owner->OnResponseReady(1);
            }
        });
    } else {
        SetResponseCallback({});
    }
    usbBusy_.store(0);
    StartAnswerDeadline();

    const LinkPlatform installed = InstalledLinkPlatform();
    const VersionQuery extended = versionsSet_ ? versionEx_ : installed.versionEx;
    const VersionQuery basic = versionsSet_ ? version_ : installed.version;
    bool newer = true;  // no query: take the system for a newer one
    if (extended != nullptr || basic != nullptr) {
        OsVersion version;
        if (!(extended != nullptr && extended(version)) && !(basic != nullptr && basic(version))) {
            return -1;
        }
        newer = IsNewerSystem(version);
    }
    UsbBackend* backend = usbBackend_ != nullptr ? usbBackend_ : installed.usb;
    if (backend == nullptr) {
        return -1;
    }
    EnsureBuffers();

    auto usb = std::make_shared<UsbBlockTransport>(*backend, sleep_, clock_);
    // Published before it opens, so that Close ends the older class's handshake delay.
    Publish(usb);
    if (!usb->Open(newer) || ActiveTransport() != usb) {
        if (const auto taken = Unpublish(usb.get())) {
            taken->Close();
        }
        return -1;
    }
    method_.store(kMethodUsb);
    if (!EnsureReader()) {
        CloseUsb();
        return -1;
    }
    return 1;
}

void CDevComm::CloseUsb() {
    const auto current = ActiveTransport();
    if (current && current->Method() == kMethodUsb) {
        if (const auto taken = Unpublish(current.get())) {
            taken->Close();
        }
    }
    connected_.store(0);
    link_.store(0);
    StopReader();
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
    // A command gets no answer: it must not reset an answer another thread is receiving.
    const int result = SendFrame(
        kCmdRequest, code, 1, 0,
        std::span<const std::uint8_t>(payload, static_cast<std::size_t>(length)), code != REQ_CMD);
    if (wake == 1) {
        WakeReader();
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

int CDevComm::UsbReceive() {
    if (!ActiveTransport()) {
        return -1;
    }
    EnsureBuffers();
    // The numbering is this call's own: its first frame must be the answer's first.
    joiner_.RestartNumbering();
    return ReceiveAnswer(nullptr);
}

}  // namespace qv
