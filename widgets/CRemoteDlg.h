// Common base of both front-panel windows. Widgets (the knob) and the application hold it
// without knowing which panel it is.
#pragma once

#include <QDialog>
#include <string>

class CRemoteDlg : public QDialog {
    Q_OBJECT
  public:
    // templateId is the panel's dialog number (241 hard-key, 102 soft-key).
    explicit CRemoteDlg(int templateId, QWidget* parent = nullptr);
    ~CRemoteDlg() override;

    int TemplateId() const { return templateId_; }

    // Sends one command text to the instrument. Base: does nothing.
    virtual void SendKey(std::string text);

  private:
    int templateId_;
};
