// The session's view on a Qt panel window: the four-pane status bar, buttons and menu items
// by id, plain message boxes, the failure message and window timers. Calls from another
// thread run on the window's thread and wait for it, so their order is kept.
#pragma once

#include <QObject>
#include <atomic>
#include <functional>
#include <map>

#include "session/SessionView.h"

class QAction;
class QLabel;
class QStatusBar;
class QTimer;
class QWidget;

class CPanelSessionView : public QObject, public qv::SessionView {
    Q_OBJECT
  public:
    // Builds the status bar (four panes, white) as a child of window.
    explicit CPanelSessionView(QWidget* window);

    QStatusBar* statusBar() const { return statusBar_; }
    // Lays the panes out for a client width: pane 0 takes what the other three leave.
    void SetClientWidth(int width);
    // Menu items that carry a control id (Connect, Disconnect, Start, Stop, ...).
    void AddAction(int id, QAction* action) { actions_[id] = action; }
    // Timer expiry goes here, on the window's thread.
    std::function<void(int id)> onTimer;
    // From now on calls from other threads are dropped instead of waiting for the window.
    void Shutdown() { shutdown_.store(true); }

    void SetPaneText(int pane, const std::string& text) override;
    void SetLinkIcon(int iconId) override;
    void EnableControl(int id, bool enabled) override;
    void MessageBox(const std::string& text) override;
    void FailureMessage(int reason) override;
    void StartTimer(int id, int periodMs) override;
    void KillTimer(int id) override;
    void Repaint() override;

    QString PaneText(int pane) const;
    bool TimerActive(int id) const;
    int TimerCount() const;
    int LinkIconId() const { return iconId_; }

  private:
    void OnWindowThread(const std::function<void()>& call);
    void FitFont();

    QWidget* window_;
    QStatusBar* statusBar_;
    QLabel* icon_;
    std::map<int, QLabel*> panes_;
    std::map<int, QAction*> actions_;
    std::map<int, QTimer*> timers_;
    std::atomic<bool> shutdown_{false};
    int iconId_ = 0;
};
