// A share beside a running session, on the session's thread: the share's presses go through
// the session's one send path, and only while remote control runs, as the window's keys do;
// each is logged with the viewer's address. The session's state reaches the page.
#pragma once

#include <QObject>
#include <QString>

#include "share/ShareServer.h"

namespace qv {
class SessionController;
}

namespace qv::share {

class ShareSession : public QObject {
    Q_OBJECT
  public:
    // session outlives this object; softKey: the soft-key panel (touches only on touch models).
    ShareSession(SessionController& session, bool softKey, QObject* parent = nullptr);
    ~ShareSession() override;

    // Returns at once; started() tells how it went (see ShareServer::Start).
    bool Start(const ShareConfig& config, QString& error);
    void Stop();
    ShareServer& server() { return server_; }

    // Any thread: a frame as the instrument sent it.
    void PushFrame(const QByteArray& jpeg) { server_.PushFrame(jpeg); }
    // The session's state as the page shows it; called on every state change.
    void UpdateStatus();

    // "share: 2 viewers" while a share runs, empty otherwise.
    static QString PaneText(int viewers);

  signals:
    // Listening (the links are known), or not and why; logged either way.
    void started(bool ok, const QString& error);
    void viewersChanged(int count);
    // A viewer's press went to the send path.
    void pressed(const QString& peer, const QString& command);

  private:
    void OnPress(const QString& peer, const SharePress& press);
    void OnStarted(bool ok, const QString& error);

    SessionController& session_;
    bool softKey_;
    ShareServer server_;
    int screenWidth_ = 800;
    int screenHeight_ = 600;
};

}  // namespace qv::share
