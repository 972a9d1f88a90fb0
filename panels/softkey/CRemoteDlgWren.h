// The soft-key front panel (dialog 102): a picture of the instrument with its screen, seven
// soft keys, the function row, numeric pad, arrows and knob, at 100, 85 or 70 %, or the
// screen alone (screen mode). What both panels share is CPanelDlg's; the layout by scale, the
// scale items and the replay bar are this window's.
#pragma once

#include <cstdint>

#include "panels/CPanelDlg.h"
#include "panels/softkey/SoftLayout.h"

class QAction;
class QPushButton;

class CRemoteDlgWren : public CPanelDlg {
    Q_OBJECT
  public:
    // Menu item that shows or hides the replay controls under the panel.
    static constexpr int kCmdReplay = 32800;

    // store outlives the window. port 0 keeps the instrument's port 66; networkUp false
    // after a failed socket start-up (nothing may connect).
    CRemoteDlgWren(qv::SettingsStore& store, QWidget* parent = nullptr, std::uint16_t port = 0,
                   bool networkUp = true);

    // Also the hidden keyboard button's command, and Start ends a replay.
    void Command(int id) override;
    bool ScreenMode() const override { return layout_.screenMode(); }

    int ModelKind() { return session().ModelKind(); }
    const SoftLayout& layout() const { return layout_; }
    QWidget* replayBar() const { return replayBar_; }

  protected:
    void PanelCommand(int id) override;
    void SetScreenMode(bool on) override;
    void Closing() override;
    void paintEvent(QPaintEvent* event) override;

  private:
    void BuildReplay();
    void LoadImages();
    void LayoutPanel();
    void GiveKnobFrames();
    void ChooseScale(int scale);
    void ToggleReplay();
    void StopReplay();

    SoftLayout layout_{0, false};
    QPushButton* keyboardButton_ = nullptr;
    QWidget* replayBar_ = nullptr;
    QAction* replayAction_ = nullptr;
};
