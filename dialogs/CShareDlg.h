// "Share in browser": off, view only or view and control; this computer only or all
// networks; the port; an optional certificate and key; then the links to hand out, each with
// a copy button and a QR code for a phone. The panel starts and stops the share (onApply).
#pragma once

#include <QDialog>
#include <QImage>
#include <QList>
#include <QPair>
#include <QString>
#include <functional>

class QButtonGroup;
class QComboBox;
class QLabel;
class QLineEdit;
class QSpinBox;
class QVBoxLayout;

struct ShareChoice {
    enum Mode { Off = 0, View = 1, Control = 2 };
    int mode = Off;
    bool allNetworks = false;
    int port = 8066;
    QString certFile;
    QString keyFile;
};

// A link to hand out: what it gives ("View", "Control") and the address.
using ShareLinks = QList<QPair<QString, QString>>;

class CShareDlg : public QDialog {
    Q_OBJECT
  public:
    CShareDlg(const ShareChoice& current, QWidget* parent = nullptr);

    // Starts, changes or stops the share as chosen: true when taken (a share then starts
    // and its outcome comes to ShowLinks or ShowError), or false with the reason.
    std::function<bool(const ShareChoice& choice, QString& error)> onApply;

    ShareChoice Choice() const;
    // Shows the links of the share that runs now.
    void ShowLinks(const ShareLinks& links, bool tls);
    // A share on its way: no links yet.
    void ShowStarting();
    // The share could not start.
    void ShowError(const QString& error);

  private:
    void Apply();
    void ClearLinks();
    void UpdateWarning();

    QButtonGroup* mode_;
    QComboBox* where_;
    QLabel* warning_;
    QSpinBox* port_;
    QLineEdit* cert_;
    QLineEdit* key_;
    QLabel* plain_;
    QLabel* error_;
    QVBoxLayout* links_;
};

// The QR code of text as a picture, `scale` pixels a module with a quiet zone; null when
// the text does not fit a code.
QImage QrCodeImage(const QString& text, int scale);
