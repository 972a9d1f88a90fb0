// A plain panel window around the session: the live screen area, the status bar and the
// right-button menu. The skinned front panels replace it; it stays as the simplest complete
// window for tests and diagnosis.
#pragma once

#include "panels/PanelSession.h"
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

    qv::SessionController& session() { return panel_->session(); }
    qv::CDevComm& engine() { return panel_->engine(); }
    CPanelSessionView& view() { return panel_->view(); }
    CScreenView& screen() { return panel_->screen(); }
    qv::KeySender& keys() { return panel_->keys(); }
    qv::ScreenRect screenRect() const { return panel_->screenRect(); }
    QMenu& menu() { return panel_->menu(); }
    // Runs a menu command by its id, as the menu would.
    void Command(int id) { panel_->Command(id); }

  protected:
    void contextMenuEvent(QContextMenuEvent* event) override;
    void mousePressEvent(QMouseEvent* event) override;
    void closeEvent(QCloseEvent* event) override;
    void done(int result) override;

  private:
    PanelSession* panel_;
};
