// The panel window's status bar: four panes on white, pane 1 with the link icon. Pane 0
// takes what the three fixed panes leave.
#pragma once

#include <QObject>
#include <map>

class QLabel;
class QStatusBar;
class QWidget;

class CPanelSessionView : public QObject {
    Q_OBJECT
  public:
    // Builds the status bar as a child of window.
    explicit CPanelSessionView(QWidget* window);

    QStatusBar* statusBar() const { return statusBar_; }
    // Lays the panes out for a client width: pane 0 takes what the other three leave.
    void SetClientWidth(int width);

    void SetPaneText(int pane, const QString& text);
    // Pane 1's icon: the connected or disconnected icon number.
    void SetLinkIcon(int iconId);

    QString PaneText(int pane) const;
    int LinkIconId() const { return iconId_; }

  private:
    void FitFont();

    QWidget* window_;
    QStatusBar* statusBar_;
    QLabel* icon_;
    std::map<int, QLabel*> panes_;
    int iconId_ = 0;
};
