// What every panel window holds around its session: the engine, the session controller, the
// status bar view, the key sender, the screen loop with its renderer, the screen picture, the
// screen capture and the right-button menu with the commands both panels share (Connect,
// Disconnect, Start, Stop, quality, save, copy, record, live rate, Communication, Infomation).
// The panel keeps its own keys, layout and skin.
#pragma once

#include <QObject>
#include <QPoint>
#include <cstdint>
#include <functional>
#include <memory>
#include <string>

#include "dialogs/CShareDlg.h"
#include "link/CDevComm.h"
#include "panels/FrameRenderer.h"
#include "session/Controls.h"
#include "session/ScreenRect.h"
#include "session/SessionController.h"
#include "session/SettingsStore.h"

class CPanelSessionView;
struct ShareChoice;
class CPanelDlg;
class CScreenView;
class PaneNote;
class ScreenCapture;
class VideoExport;
class QAction;
class QMenu;
class QStatusBar;

namespace qv::share {
class ShareSession;
}

class PanelSession : public QObject {
    Q_OBJECT
  public:
    struct Options {
        qv::PanelTraits traits;
        QSize screenSize{800, 600};  // the picture control's size at 100 %
        bool scaleItems = false;     // the menu offers 100 %, 85 %, 70 %
        std::uint16_t port = 0;      // 0 keeps the instrument's port 66
        bool networkUp = true;       // false after a failed socket start-up: no connecting
    };

    // window: the panel; the status bar, the screen picture and the menu become its children.
    // store outlives the window.
    PanelSession(CPanelDlg& window, qv::SettingsStore& store, Options options);
    ~PanelSession() override;

    // The session's share of the window's initialisation: log, response flag and engine
    // owner, settings, status bar and link text. The panel lays itself out after this.
    void Init();
    // The last initialisation step: the screen loop's worker and the command writer.
    void StartWorker();
    // Window close: the session closes its link and joins its threads, bounded. Safe to
    // call twice.
    void Shutdown();

    qv::SessionController& session() { return *session_; }
    qv::CDevComm& engine() { return engine_; }
    qv::SettingsStore& store() { return store_; }
    CPanelSessionView& view() { return *view_; }
    CScreenView& screen() { return *screen_; }
    QStatusBar* statusBar() const;
    QMenu& menu() { return *menu_; }
    ScreenCapture& capture() { return *capture_; }
    VideoExport& videoExport() { return *export_; }
    bool networkUp() const { return options_.networkUp; }

    // A pane's own text. Pane 0's (the session's, such as the link's health) lies under the
    // notes and follows the recording's "REC n"; write it here or through the session's
    // paneText(0, ...), never into the view directly.
    void SetPane(int pane, const QString& text);
    // Status pane 0 shows text for `seconds` seconds, then its own text again.
    void ShowNote(const QString& text, int seconds);
    QString PaneZeroText() const;

    // The picture's place in client pixels; frames are drawn there and touches map from it.
    void SetScreenRect(const qv::ScreenRect& rect);
    qv::ScreenRect screenRect() const { return screenRect_; }
    // Scale setting 0, 1, 2 (100, 85, 70 %) for the frame drawing and the touch mapping.
    void SetScale(int scaleSetting);
    int scale() const { return scale_; }
    // Places the status bar along the bottom of the client area (pane 0 takes what is left).
    void PlaceStatusBar(int clientWidth, int clientHeight);

    // Sends a command text through the one send path.
    void SendKey(std::string text);
    // A left press at a client point: sends the touch command when it maps onto the screen.
    void Touch(QPoint clientPoint);

    // Sets every item's enabled and checked state and opens the menu at a global position.
    void PopupMenu(QPoint globalPos, bool screenMode);
    void UpdateMenu(bool screenMode);
    // Keys, menu items, panes 1 and 2 and the picture as the session's state says; changes
    // nothing else.
    void ApplyState();
    QAction* Action(int id) const;

    // Runs a shared command by id. Returns false for ids the panel handles itself (screen
    // mode, scale); those are handed to onPanelCommand when they come from the menu.
    bool Command(int id);
    std::function<void(int id)> onPanelCommand;

    // The browser share beside the session: started, changed or stopped as chosen, without
    // waiting for it to listen (shareStarted follows); false with the reason when refused.
    bool ApplyShare(const ShareChoice& choice, QString& error);
    // Every viewer ends at once (Disconnect, the window closing).
    void StopShare();
    qv::share::ShareSession* share() { return share_.get(); }
    // The links of the share that listens now; none otherwise.
    ShareLinks ShareLinkList() const;

  signals:
    // The share chosen listens (its links), or could not start (error).
    void shareStarted(const ShareLinks& links, const QString& error);

  protected:
    // Esc while a connect is under way cancels it, whichever widget of the window has the focus.
    bool eventFilter(QObject* watched, QEvent* event) override;

  private:
    qv::ControlStates Controls() const;
    // A recording ends when no more frames can come (Stop, Disconnect, a loss that does not
    // heal); it waits through a link that is healing.
    void EndRecordingWithStream();
    void BuildMenu();
    void ChooseQuality(int index);
    void ShowMessage(const QString& text);
    void ShowFailure(int reason);
    void ToggleRecord();
    void ShowRecording();
    // Pane 0's mark: the recording's "REC n" and the share's viewers.
    void ShowMark();
    void OpenShareDialog();
    void OnShareStarted(bool ok, const QString& error);

    CPanelDlg& window_;
    qv::SettingsStore& store_;
    Options options_;
    qv::CDevComm engine_;
    CPanelSessionView* view_;
    CScreenView* screen_;
    QMenu* menu_;
    ScreenCapture* capture_;
    VideoExport* export_;
    PaneNote* paneNote_;
    std::unique_ptr<qv::SessionController> session_;
    std::unique_ptr<qv::share::ShareSession> share_;
    ShareChoice shareChoice_;
    QString shareMark_;
    qv::FrameRenderer renderer_;
    qv::ScreenRect screenRect_{};
    int scale_ = 0;
    int quality_ = 0;
    bool closed_ = false;
};
