// Status pane 0 is shared. Underneath lies the session's own text (the link's health); a mark
// (the recording's "REC n") stands before it while it lasts; a note ("Saved to ...") covers
// both for a few seconds, then the pane shows them again.
#pragma once

#include <QObject>
#include <QString>
#include <QTimer>
#include <functional>

class PaneNote : public QObject {
    Q_OBJECT
  public:
    // show puts a text into the pane.
    explicit PaneNote(std::function<void(const QString&)> show, QObject* parent = nullptr);

    // The session's text for the pane.
    void SetBase(const QString& text);
    // A mark before the base text; empty removes it.
    void SetMark(const QString& text);
    // A note for `seconds` seconds (at least one), over everything else; a newer note replaces
    // it and starts its time again.
    void Show(const QString& text, int seconds);

    // What the pane shows now.
    QString Text() const;
    bool NoteShown() const { return timer_.isActive(); }

  private:
    void Refresh();

    std::function<void(const QString&)> show_;
    QString base_ = QStringLiteral(" ");
    QString mark_;
    QString note_;
    QTimer timer_;
};
