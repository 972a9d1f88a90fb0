// The about box: product name and version.
#pragma once

#include <QDialog>

class QLabel;
class QPushButton;

class CAboutDlg : public QDialog {
    Q_OBJECT
  public:
    explicit CAboutDlg(QWidget* parent = nullptr);

  protected:
    virtual void OnInitDialog();
    void showEvent(QShowEvent* event) override;

  private:
    QLabel* icon_;
    QLabel* version_;
    QLabel* vendor_;
    QPushButton* ok_;
};
