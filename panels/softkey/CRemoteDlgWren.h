// The soft-key front panel (dialog 102): a picture of the instrument with its screen, seven
// soft keys, the function row, numeric pad, arrows and knob, at 100, 85 or 70 %, or the
// screen alone (screen mode). The session, status bar and shared menu commands are the
// PanelSession's; keys, layout, scale, screen mode and the PC keyboard are this window's.
#pragma once

#include <array>
#include <cstdint>
#include <set>
#include <string>

#include "panels/PanelSession.h"
#include "panels/softkey/SoftKeyTable.h"
#include "panels/softkey/SoftLayout.h"
#include "widgets/CRemoteDlg.h"

class CKnobButton;
class CSkinButton;
class QAction;
class QPushButton;

class CRemoteDlgWren : public CRemoteDlg {
    Q_OBJECT
  public:
    // Menu item that shows or hides the replay controls under the panel.
    static constexpr int kCmdReplay = 32800;

    // store outlives the window. port 0 keeps the instrument's port 66; networkUp false
    // after a failed socket start-up (nothing may connect).
    CRemoteDlgWren(qv::SettingsStore& store, QWidget* parent = nullptr, std::uint16_t port = 0,
                   bool networkUp = true);
    ~CRemoteDlgWren() override;

    void SendKey(std::string text) override;
    void OnResponseReady(int flag) override;

    // Runs a command by id as the menu or a key's command message would: shared session
    // commands, scale, screen mode, replay and the key ids themselves.
    void Command(int id);
    // A key's command message: sends its command even while the key is disabled.
    void OnKeyCommand(int id);
    // The 34 keys, then the knob.
    void SetKeysEnabled(bool enabled);

    PanelSession& panel() { return *panel_; }
    qv::SessionController& session() { return panel_->session(); }
    int ModelKind() const { return panel_->session().ModelKind(); }
    int scale() const { return layout_.scale(); }
    bool screenMode() const { return layout_.screenMode(); }
    const SoftLayout& layout() const { return layout_; }
    qv::ScreenRect screenRect() const { return panel_->screenRect(); }
    CSkinButton* Key(int id) const;
    CKnobButton* knob() const { return knob_; }
    QWidget* replayBar() const { return replayBar_; }

  protected:
    bool eventFilter(QObject* watched, QEvent* event) override;
    void paintEvent(QPaintEvent* event) override;
    void mousePressEvent(QMouseEvent* event) override;
    void contextMenuEvent(QContextMenuEvent* event) override;
    void closeEvent(QCloseEvent* event) override;
    void done(int result) override;

  private:
    void BuildKeys();
    void BuildReplay();
    void LoadKeyImages();
    void LayoutPanel();
    void GiveKnobFrames();
    void PanelCommand(int id);
    void ChooseScale(int scale);
    void ToggleScreenMode();
    void ToggleReplay();
    // Pressed look while a PC key is held: normal and pressed both show the pressed image.
    void ShowKeyPressed(int id, bool pressed);
    bool HandleKey(QKeyEvent& event);
    void StopReplay();

    PanelSession* panel_;
    SoftLayout layout_{0, false};
    std::array<CSkinButton*, SoftKeyTable::kKeyCount> keys_{};
    CKnobButton* knob_ = nullptr;
    QPushButton* keyboardButton_ = nullptr;
    QWidget* replayBar_ = nullptr;
    QAction* replayAction_ = nullptr;
    std::set<int> held_;  // panel keys whose PC key went down in this window
};
