// A plain panel window around the session: the live screen area, the status bar and the
// right-button menu (Connect, Disconnect, Start, Stop, Communication). The skinned front
// panels replace it; it stays as the simplest complete window for tests and diagnosis.
#pragma once

#include <memory>

#include "link/CDevComm.h"
#include "panels/FrameRenderer.h"
#include "session/KeySender.h"
#include "session/ScreenLoop.h"
#include "session/SessionController.h"
#include "session/SettingsStore.h"
#include "widgets/CRemoteDlg.h"

class CPanelSessionView;
class CScreenView;
class QMenu;

class CBasicPanelDlg : public CRemoteDlg {
    Q_OBJECT
  public:
    // store outlives the window. port 0 keeps the product's port 66.
    CBasicPanelDlg(qv::SettingsStore& store, qv::PanelTraits traits, QWidget* parent = nullptr,
                   std::uint16_t port = 0);
    ~CBasicPanelDlg() override;

    void OnResponseReady(int flag) override;
    void SendKey(std::string text) override;

    qv::SessionController& session() { return *session_; }
    qv::CDevComm& engine() { return engine_; }
    CPanelSessionView& view() { return *view_; }
    CScreenView& screen() { return *screen_; }
    qv::KeySender& keys() { return *keys_; }
    qv::ScreenRect screenRect() const;
    QMenu& menu() { return *menu_; }
    // Runs a menu command by its id, as the menu would.
    void Command(int id);

  protected:
    void contextMenuEvent(QContextMenuEvent* event) override;
    void mousePressEvent(QMouseEvent* event) override;
    void closeEvent(QCloseEvent* event) override;
    void done(int result) override;

  private:
    void Shutdown();

    qv::CDevComm engine_;
    qv::SettingsStore& store_;
    CPanelSessionView* view_;
    QMenu* menu_;
    CScreenView* screen_;
    std::unique_ptr<qv::SessionController> session_;
    std::unique_ptr<qv::KeySender> keys_;
    std::unique_ptr<qv::ScreenLoop> loop_;
    qv::FrameRenderer renderer_;
    bool closed_ = false;
};
