// The model-line selection dialog: which instrument line is to be remote-controlled.
#pragma once

#include <QDialog>

class QButtonGroup;
class QGroupBox;
class QPushButton;
class QRadioButton;

class CDlgModel : public QDialog {
    Q_OBJECT
  public:
    explicit CDlgModel(QWidget* parent = nullptr);

    // Index of the checked line: 0 "380A/B, 390A/B Series", 1 "360C Series",
    // 2 "HN7700 Series"; -1 when none is checked. Read back on OK only.
    int m_nModel = 0;

  protected:
    virtual void OnInitDialog();
    void showEvent(QShowEvent* event) override;

  private:
    void OnOK();

    QPushButton* ok_;
    QPushButton* exit_;
    QButtonGroup* lines_;
};
