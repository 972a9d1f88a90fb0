#include "share/ShareSession.h"

#include "link/ModelTable.h"
#include "session/ActivityLog.h"
#include "session/ScreenRect.h"
#include "session/SessionController.h"

namespace qv::share {

ShareSession::ShareSession(SessionController& session, bool softKey, QObject* parent)
    : QObject(parent), session_(session), softKey_(softKey) {
    connect(&session_, &SessionController::stateChanged, this, &ShareSession::UpdateStatus);
    connect(&server_, &ShareServer::press, this, &ShareSession::OnPress);
    connect(&server_, &ShareServer::viewersChanged, this, &ShareSession::viewersChanged);
    connect(&server_, &ShareServer::started, this, &ShareSession::OnStarted);
}

ShareSession::~ShareSession() {
    server_.Stop();
}

bool ShareSession::Start(const ShareConfig& config, QString& error) {
    screenWidth_ = config.keys.screenWidth;
    screenHeight_ = config.keys.screenHeight;
    if (!server_.Start(config, error)) {
        ActivityLog::Instance().Printf("Share failed: %s", error.toStdString().c_str());
        return false;
    }
    UpdateStatus();
    return true;
}

void ShareSession::OnStarted(bool ok, const QString& error) {
    if (ok) {
        ActivityLog::Instance().Printf("Share started on port %u (%s)", server_.Port(),
                                       server_.ControlLink(QStringLiteral("127.0.0.1")).isEmpty()
                                           ? "view only"
                                           : "view and control");
    } else {
        ActivityLog::Instance().Printf("Share failed: %s", error.toStdString().c_str());
    }
    emit started(ok, error);
}

void ShareSession::Stop() {
    if (server_.Running()) {
        server_.Stop();
        ActivityLog::Instance().Write("Share stopped");
    }
}

void ShareSession::UpdateStatus() {
    ShareStatus status;
    switch (session_.linkState()) {
        case LinkState::Connected:
            status.link = ShareStatus::Link::Up;
            break;
        case LinkState::Reconnecting:
            status.link = ShareStatus::Link::Healing;
            status.attempt = session_.ReconnectAttempt();
            break;
        default:
            status.link = ShareStatus::Link::Down;
            break;
    }
    status.streaming = session_.Streaming();
    status.touches = !softKey_ || session_.ModelKind() == kModelKindTouch;
    status.model = QString::fromStdString(session_.ModelName());
    server_.SetStatus(status);
}

QString ShareSession::PaneText(int viewers) {
    return viewers == 1 ? QStringLiteral("share: 1 viewer")
                        : QStringLiteral("share: %1 viewers").arg(viewers);
}

void ShareSession::OnPress(const QString& peer, const SharePress& press) {
    // The window's keys work only while remote control runs on a live link; so do these.
    if (!server_.Running() || !session_.Streaming() || !session_.IsConnectedState()) {
        return;
    }
    std::string command = press.command;
    if (press.kind == SharePress::Kind::Touch) {
        const auto touch =
            session_.Touch(press.x, press.y, ScreenRect{0, 0, screenWidth_, screenHeight_}, 0);
        if (!touch) {
            return;
        }
        command = *touch;
    }
    ActivityLog::Instance().Printf("Share %s: %s", peer.toStdString().c_str(), command.c_str());
    session_.SendKey(command);
    emit pressed(peer, QString::fromStdString(command));
}

}  // namespace qv::share
