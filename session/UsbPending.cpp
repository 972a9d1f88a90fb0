// Until the engine has its USB side, a USB connect finds no device.
#include "session/ActivityLog.h"
#include "session/SessionController.h"

namespace qv {

void SessionController::ConnectUsb() {
    ActivityLog::Instance().Write("Error! Do not connect");
    view_.FailureMessage(kReasonUsb);
    RestoreState();
}

void SessionController::CloseUsbLink() {}

}  // namespace qv

#include "session/ScreenLoop.h"

namespace qv {

int ScreenLoop::UsbExchange() {
    engine_.SetErrorText("STR_ERROR_PACKET");
    return -1;
}

}  // namespace qv

#include "session/KeySender.h"

namespace qv {

int KeySender::SendUsb(const std::string& /*line*/) {
    return 0;
}

}  // namespace qv
