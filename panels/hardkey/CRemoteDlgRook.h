// The hard-key front panel window: the instrument screen beside a picture of the front panel
// with 28 skinned keys and the knob. Always drawn at 100 %; screen mode shows the screen alone.
#pragma once

#include <QSize>
#include <cstdint>

#include "panels/CPanelDlg.h"
#include "session/ScreenRect.h"

class CRemoteDlgRook : public CPanelDlg {
    Q_OBJECT
  public:
    // Client sizes: background plus the 20-pixel status bar.
    static constexpr QSize kNormalClient{1023, 679 + 20};
    static constexpr QSize kScreenClient{800, 480 + 20};
    // Bounds of a user resize, in both modes (client pixels).
    static constexpr QSize kMinClient{815, 480 + 20};
    static constexpr QSize kMaxClient{1038, 679 + 20};
    // Where the instrument screen sits in the client area when the keys are shown.
    static constexpr qv::ScreenRect kNormalScreen{111, 25, 111 + 800, 25 + 480};
    static constexpr qv::ScreenRect kScreenModeScreen{0, 0, 800, 480};

    // store outlives the window. port 0 keeps the instrument's port 66; networkUp false after
    // a failed socket start-up (the panel then offers no connection).
    CRemoteDlgRook(qv::SettingsStore& store, QWidget* parent = nullptr, std::uint16_t port = 0,
                   bool networkUp = true);

    bool ScreenMode() const override { return screenMode_; }

  protected:
    void SetScreenMode(bool on) override;
    // Only while remote control runs.
    bool KeyboardLive() override;
    void paintEvent(QPaintEvent* event) override;

  private:
    void LayoutPanel();

    bool screenMode_ = false;
};
