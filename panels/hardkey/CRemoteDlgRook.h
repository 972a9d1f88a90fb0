// The hard-key front panel window: the instrument screen beside a picture of the front panel
// with 28 skinned keys and the knob. Always drawn at 100 %; screen mode shows the screen alone.
#pragma once

#include <QPoint>
#include <QSize>
#include <cstdint>
#include <map>
#include <set>
#include <string>

#include "panels/PanelSession.h"
#include "panels/hardkey/HardKeyboardMap.h"
#include "widgets/CRemoteDlg.h"

class CKnobButton;
class CTqButton;
class QMenu;

class CRemoteDlgRook : public CRemoteDlg {
    Q_OBJECT
  public:
    // Client sizes: background plus the 20-pixel status bar.
    static constexpr QSize kNormalClient{1023, 679 + 20};
    static constexpr QSize kScreenClient{800, 480 + 20};
    // Bounds of a user resize, in both modes (client pixels).
    static constexpr QSize kMinClient{815, 480 + 20};
    static constexpr QSize kMaxClient{1038, 679 + 20};

    // store outlives the window. port 0 keeps the instrument's port 66; networkUp false after
    // a failed socket start-up (the panel then offers no connection).
    CRemoteDlgRook(qv::SettingsStore& store, QWidget* parent = nullptr, std::uint16_t port = 0,
                   bool networkUp = true);
    ~CRemoteDlgRook() override;

    void OnResponseReady(int flag) override;
    void SendKey(std::string text) override;

    // Runs a menu command by id, as the menu would.
    void Command(int id);
    // A key's click: sends its command. The keyboard map ends here too.
    void OnKey(int id);

    bool ScreenMode() const { return screenMode_; }
    CTqButton* Key(int id) const;
    CKnobButton* Knob() const { return knob_; }

    qv::SessionController& session() { return panel_->session(); }
    qv::CDevComm& engine() { return panel_->engine(); }
    CPanelSessionView& view() { return panel_->view(); }
    CScreenView& screen() { return panel_->screen(); }
    qv::ScreenRect screenRect() const { return panel_->screenRect(); }
    int scale() const { return panel_->scale(); }
    QMenu& menu() { return panel_->menu(); }
    PanelSession& panelSession() { return *panel_; }
    // Sets the menu's states as opening it would.
    void UpdateMenu() { panel_->UpdateMenu(screenMode_); }

  protected:
    bool eventFilter(QObject* watched, QEvent* event) override;
    void paintEvent(QPaintEvent* event) override;
    void mousePressEvent(QMouseEvent* event) override;
    void contextMenuEvent(QContextMenuEvent* event) override;
    void closeEvent(QCloseEvent* event) override;
    void done(int result) override;

  private:
    void BuildKeys();
    void LoadKeyImages();
    void LayoutPanel();
    void ToggleScreenMode();
    void OnPanelCommand(int id);
    // The PC keyboard: true when the key event is used up here.
    bool PreTranslateKey(QKeyEvent* key);
    void ShowKeySet(int id, bool pressed);
    bool Running();
    // A press on the panel itself, not on a key or another child.
    bool OnPanel(QPoint clientPoint) const;

    PanelSession* panel_;
    std::map<int, CTqButton*> keys_;
    CKnobButton* knob_ = nullptr;
    bool screenMode_ = false;
    qv::hardkey::ScanCodes scanCodes_;
    std::set<int> held_;  // panel keys whose PC key went down in this window
};
