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
