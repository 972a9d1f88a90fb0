// A small modal front end for one engine operation: starts it on a timer, shows its progress
// and acts on the instrument's answer code. The program itself never opens it.
#pragma once

#include <QDialog>
#include <QString>
#include <cstdint>
#include <functional>
#include <string>

class QLabel;
class QProgressBar;
class QPushButton;
class QTimer;

namespace qv {
class CDevComm;
}

class CXferDataDialog : public QDialog {
    Q_OBJECT
  public:
    // Operations by mode.
    static constexpr int kModeLoadNamed = 3;
    static constexpr int kModeReadFile = 4;
    static constexpr int kModeWriteData = 5;
    static constexpr int kModeEqInfo = 6;
    static constexpr int kModeConnect = 16;
    static constexpr std::size_t kEntryNameMax = 102;

    explicit CXferDataDialog(QWidget* parent = nullptr);

    QString m_strStatus;
    int m_nMethod = 0;
    int m_nResult = 0;  // -1 engine error, -2 failed otherwise
    int m_nMode = 0;
    std::uint8_t m_cmd = 0;
    std::uint8_t m_code = 0;
    std::string m_strEntryName;  // modes 4 and 5; longer names are cut to 102 bytes
    int m_nSize = 0;             // size for mode 4, length for mode 5
    const std::uint8_t* m_pData = nullptr;
    int m_nTimerState = 0;
    std::string m_strLoadName;  // mode 3
    qv::CDevComm* m_pDevComm = nullptr;

    // Shows a plain message box; tests replace it.
    std::function<void(const QString&)> messageBox;

    QProgressBar& progress() const { return *progress_; }

  protected:
    virtual void OnInitDialog();
    void showEvent(QShowEvent* event) override;

  public slots:
    void reject() override;

  private:
    void OnStartTimer();
    void OnPollTimer();
    void HandleAnswer();
    void Message(const QString& text);
    std::string EntryName() const { return m_strEntryName.substr(0, kEntryNameMax); }

    QLabel* status_;
    QProgressBar* progress_;
    QPushButton* ok_;
    QPushButton* cancel_;
    QTimer* startTimer_;  // 100
    QTimer* pollTimer_;   // 101
};
