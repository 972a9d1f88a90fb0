// Common base of both front-panel windows. Widgets (the knob) and the engine hold a pointer
// to it without knowing which panel it is.
#pragma once

#include <QDialog>
#include <mutex>
#include <string>

#include "link/DevOwner.h"

class CRemoteDlg : public QDialog, public qv::DevOwner {
    Q_OBJECT
  public:
    // templateId is the panel's dialog number (241 hard-key, 102 soft-key).
    explicit CRemoteDlg(int templateId, QWidget* parent = nullptr);
    ~CRemoteDlg() override;

    int TemplateId() const { return templateId_; }

    // Sends one command text to the instrument. Base: does nothing.
    virtual void SendKey(std::string text);
    // Stores the response-ready flag. Base: does nothing. May be called from any thread.
    void OnResponseReady(int flag) override;

    // Held while a received frame is stored to the frame file.
    std::mutex& FrameLock() { return frameLock_; }

  private:
    int templateId_;
    std::mutex frameLock_;
};
