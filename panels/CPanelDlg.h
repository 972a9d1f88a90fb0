// What both front panels share: the session around them (PanelSession), their keys and knob
// built from the panel's key table, the PC keyboard (a press shows the key pressed, the real
// release sends its command once), the mouse on the panel itself (left: a touch, right: the
// menu), closing, and the accessors tests and the program use. Each panel adds its layout,
// its screen mode and its own menu items.
#pragma once

#include <map>
#include <set>
#include <span>
#include <string>

#include "panels/KeyboardMap.h"
#include "panels/PanelKey.h"
#include "panels/PanelSession.h"
#include "widgets/CRemoteDlg.h"

class CKnobButton;
class CSkinButton;
class QKeyEvent;

class CPanelDlg : public CRemoteDlg {
    Q_OBJECT
  public:
    ~CPanelDlg() override;

    // Through the session's one send path.
    void SendKey(std::string text) override;

    // Runs a command by id as the menu or a key's command message would: a key id sends the
    // key's command (also while the key is disabled), shared ids go to the session, the rest
    // to the panel.
    virtual void Command(int id);
    // A key's click: sends its command.
    void OnKey(int id);
    // The keys, then the knob.
    void SetKeysEnabled(bool enabled);

    virtual bool ScreenMode() const = 0;
    CSkinButton* Key(int id) const;
    CKnobButton* Knob() const { return knob_; }
    PanelSession& panelSession() { return *panel_; }
    qv::SessionController& session() { return panel_->session(); }
    qv::CDevComm& engine() { return panel_->engine(); }
    CPanelSessionView& view() { return panel_->view(); }
    CScreenView& screen() { return panel_->screen(); }
    QMenu& menu() { return panel_->menu(); }
    qv::ScreenRect screenRect() const { return panel_->screenRect(); }
    int scale() const { return panel_->scale(); }
    // Sets the menu's states as opening it would.
    void UpdateMenu() { panel_->UpdateMenu(ScreenMode()); }

  protected:
    // keys and keyboard: the panel's tables; they outlive the window.
    CPanelDlg(int templateId, qv::SettingsStore& store, PanelSession::Options options,
              std::span<const qv::PanelKey> keys, std::span<const qv::KeyboardRow> keyboard,
              QWidget* parent);

    // One button per key, named by its control id, and the knob.
    template <typename Button>
    void BuildKeys(int knobId) {
        for (const qv::PanelKey& key : keys_) {
            AddKey(key, new Button(this));
        }
        AddKnob(knobId);
    }
    // Loads every key's images at a scale (0, 1, 2): normal, pressed, focus, disabled.
    void LoadKeyImages(int scale);
    // The last step of initialisation: PC keys reach the panel first, the session's threads
    // start.
    void StartSession();

    // The panel's own menu commands (screen mode, scale, replay).
    virtual void PanelCommand(int id);
    // Screen mode on or off: the panel lays itself out again.
    virtual void SetScreenMode(bool on) = 0;
    // The PC keyboard works the keys now. Otherwise Esc and Enter are swallowed (they never
    // close the window) and every other key passes.
    virtual bool KeyboardLive() { return true; }
    // Before the session closes with the window.
    virtual void Closing() {}

    std::span<const qv::PanelKey> keys() const { return keys_; }

    bool eventFilter(QObject* watched, QEvent* event) override;
    void mousePressEvent(QMouseEvent* event) override;
    void contextMenuEvent(QContextMenuEvent* event) override;
    void closeEvent(QCloseEvent* event) override;
    void done(int result) override;

  private:
    void AddKey(const qv::PanelKey& key, CSkinButton* button);
    void AddKnob(int id);
    bool PreTranslateKey(const QKeyEvent& key);
    // Pressed look while a PC key is held: the pressed image stands in for the normal one.
    void ShowKeyPressed(int id, bool pressed);
    // A press on the panel itself, not on a key or another child.
    bool OnPanel(QPoint clientPoint) const;
    void Shutdown();

    PanelSession* panel_;
    std::span<const qv::PanelKey> keys_;
    std::span<const qv::KeyboardRow> keyboard_;
    std::map<int, CSkinButton*> buttons_;
    CKnobButton* knob_ = nullptr;
    int keyScale_ = 0;
    std::set<int> held_;  // panel keys whose PC key went down in this window
};
