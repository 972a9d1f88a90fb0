#include <QApplication>
#include <QLabel>
#include <QLineEdit>
#include <QPixmap>
#include <QPushButton>
#include <QRadioButton>
#include <QtTest>

#include "dialogs/CAboutDlg.h"
#include "dialogs/CDlgIP.h"
#include "dialogs/CDlgModel.h"
#include "dialogs/CDlgMsg.h"
#include "dialogs/CIpAddressCtrl.h"
#include "dialogs/DialogUnits.h"
#include "dialogs/DottedQuad.h"
#include "widgets/SkinLibrary.h"

namespace {

template <typename T>
T* Ctrl(QWidget& dlg, int id) {
    return dlg.findChild<T*>(QStringLiteral("ctrl%1").arg(id));
}

// On its indicator: the label alone may not fill the button's box.
void ClickRadio(QRadioButton* radio) {
    QTest::mouseClick(radio, Qt::LeftButton, {}, QPoint(6, radio->height() / 2));
}

void ShowActive(QWidget& w) {
    w.show();
    w.activateWindow();
    if (!QTest::qWaitForWindowActive(&w)) {
        qWarning("window not active");
    }
}

// How a dialog is closed by the user.
enum class CloseBy { OkButton, Enter, Escape, CloseBox };

void CloseDialog(QDialog& dlg, CloseBy how) {
    switch (how) {
        case CloseBy::OkButton:
            QTest::mouseClick(Ctrl<QPushButton>(dlg, 1), Qt::LeftButton);
            break;
        case CloseBy::Enter:
            QTest::keyClick(QApplication::focusWidget() ? QApplication::focusWidget() : &dlg,
                            Qt::Key_Return);
            break;
        case CloseBy::Escape:
            QTest::keyClick(&dlg, Qt::Key_Escape);
            break;
        case CloseBy::CloseBox:
            dlg.close();
            break;
    }
}

}  // namespace

Q_DECLARE_METATYPE(CloseBy)

class SmallDialogsTest : public QObject {
    Q_OBJECT
  private slots:
    void unitsFollowTheFont();
    void msgReasons_data();
    void msgReasons();
    void msgLayoutInDialogUnits();

    void ipRoundTrip_data();
    void ipRoundTrip();
    void ipEnterAccepts();
    void ipEscapeLeavesText();

    void aboutTexts();
    void aboutCloses_data();
    void aboutCloses();

    void modelEnterAcceptsFirstLine();
    void modelPicks_data();
    void modelPicks();
    void modelExitCancels_data();
    void modelExitCancels();
    void modelPreselects();
};

void SmallDialogsTest::unitsFollowTheFont() {
    const qv::DialogUnits du(qv::DialogUnits::DialogFont(8));
    QVERIFY(du.BaseX() > 0);
    QVERIFY(du.BaseY() > 0);
    QCOMPARE(du.X(4), du.BaseX());
    QCOMPARE(du.Y(8), du.BaseY());
    QCOMPARE(du.X(0), 0);
    const qv::DialogUnits big(qv::DialogUnits::DialogFont(9));
    QVERIFY(big.BaseY() >= du.BaseY());
}

void SmallDialogsTest::msgReasons_data() {
    QTest::addColumn<int>("reason");
    QTest::addColumn<QString>("title");
    QTest::addColumn<QString>("line1");
    QTest::addColumn<QString>("line2");
    QTest::addColumn<QString>("advice");
    const QString templ1 = "  1) The remote instrument is turned off";
    const QString templ2 = "  2) The remote instrument is not available on the network";
    const QString templAdvice =
        "Make sure the remote instrument is turned on and connected to the network";
    QTest::newRow("1 tcp") << 1 << "Connection Failed" << templ1 << templ2 << templAdvice;
    QTest::newRow("2 usb") << 2 << "Cannot Connect to the Intrument" << templ1 << templ2
                           << templAdvice;
    QTest::newRow("3 equipment")
        << 3 << "Connection Failed"
        << "  1) IP you entered is being used by another program"
        << "  2) The remote instrument is being used by another program"
        << "Make sure the remote instrument is connected to the network, and no other program "
           "is connected to it.  If you are not sure, try again after rebooting the remote "
           "instrument.";
    QTest::newRow("7 unknown") << 7 << "Cannot Connect to the Intrument" << templ1 << templ2
                               << templAdvice;
    QTest::newRow("0 unknown") << 0 << "Cannot Connect to the Intrument" << templ1 << templ2
                               << templAdvice;
}

void SmallDialogsTest::msgReasons() {
    QFETCH(int, reason);
    QFETCH(QString, title);
    QFETCH(QString, line1);
    QFETCH(QString, line2);
    QFETCH(QString, advice);
    CDlgMsg dlg(reason);
    ShowActive(dlg);
    QCOMPARE(dlg.windowTitle(), title);
    QCOMPARE(Ctrl<QLabel>(dlg, 1067)->text(),
             QString("Remote Controller cannot connect to the remote instrument for the one of "
                     "these reasons:"));
    QCOMPARE(Ctrl<QLabel>(dlg, 1068)->text(), line1);
    QCOMPARE(Ctrl<QLabel>(dlg, 1069)->text(), line2);
    QCOMPARE(Ctrl<QLabel>(dlg, 1070)->text(), advice);
    QVERIFY(Ctrl<QLabel>(dlg, 1070)->isVisible());
    CloseDialog(dlg, CloseBy::Enter);
    QVERIFY(!dlg.isVisible());
}

void SmallDialogsTest::msgLayoutInDialogUnits() {
    CDlgMsg dlg(1);
    const qv::DialogUnits du(qv::DialogUnits::DialogFont(8));
    QCOMPARE(dlg.size(), du.Size(320, 90));
    QCOMPARE(Ctrl<QPushButton>(dlg, 1)->geometry(), du.Rect(263, 69, 50, 14));
    QCOMPARE(Ctrl<QLabel>(dlg, 1070)->geometry(), du.Rect(7, 50, 306, 16));
}

void SmallDialogsTest::ipRoundTrip_data() {
    QTest::addColumn<QString>("given");
    QTest::addColumn<QString>("shown");
    QTest::newRow("plain") << "10.0.0.5"
                           << "10.0.0.5";
    QTest::newRow("empty") << ""
                           << "0.0.0.0";
    QTest::newRow("two dots") << "192.168.1"
                              << "192.168.0.1";
    QTest::newRow("wraps") << "300.1.2.3"
                           << "44.1.2.3";
}

void SmallDialogsTest::ipRoundTrip() {
    QFETCH(QString, given);
    QFETCH(QString, shown);
    CDlgIP dlg;
    dlg.m_strIp = given.toStdString();
    ShowActive(dlg);
    QCOMPARE(dlg.windowTitle(), QString("IP Address Setting"));
    auto* ctrl = Ctrl<CIpAddressCtrl>(dlg, 1063);
    QCOMPARE(QString::fromStdString(qv::FormatDottedQuad(ctrl->GetAddress())), shown);
    QTest::mouseClick(Ctrl<QPushButton>(dlg, 1064), Qt::LeftButton);
    QCOMPARE(dlg.result(), int(QDialog::Accepted));
    QCOMPARE(QString::fromStdString(dlg.m_strIp), shown);
}

void SmallDialogsTest::ipEnterAccepts() {
    CDlgIP dlg;
    dlg.m_strIp = "10.0.0.5";
    ShowActive(dlg);
    auto* ctrl = Ctrl<CIpAddressCtrl>(dlg, 1063);
    ctrl->Field(3)->setText("9");
    QTest::keyClick(ctrl->Field(3), Qt::Key_Return);
    QCOMPARE(dlg.result(), int(QDialog::Accepted));
    QCOMPARE(dlg.m_strIp, std::string("10.0.0.9"));
}

void SmallDialogsTest::ipEscapeLeavesText() {
    CDlgIP dlg;
    dlg.m_strIp = "10.0.0.5";
    ShowActive(dlg);
    auto* ctrl = Ctrl<CIpAddressCtrl>(dlg, 1063);
    ctrl->Field(0)->setText("99");
    QTest::keyClick(ctrl->Field(0), Qt::Key_Escape);
    QVERIFY(!dlg.isVisible());
    QCOMPARE(dlg.result(), int(QDialog::Rejected));
    QCOMPARE(dlg.m_strIp, std::string("10.0.0.5"));
}

void SmallDialogsTest::aboutTexts() {
    CAboutDlg dlg;
    ShowActive(dlg);
    QCOMPARE(dlg.windowTitle(), QString("QVRemote Infomation"));
    QCOMPARE(Ctrl<QLabel>(dlg, 1065)->text(), QString("QVRemote, Version 2.1"));
    QVERIFY(!Ctrl<QLabel>(dlg, 1066)->text().isEmpty());
    auto* icon = dlg.findChild<QLabel*>("ctrlIcon128");
    QVERIFY(icon != nullptr);
    // Icon 128 of the skin, whatever icon the application holds (none here).
    QVERIFY(QApplication::windowIcon().isNull());
    const QImage expected = qv::SkinImage(128);
    QVERIFY(!expected.isNull());
    const QImage shown = icon->pixmap().toImage().convertToFormat(QImage::Format_ARGB32);
    QCOMPARE(shown, expected.convertToFormat(QImage::Format_ARGB32));
}

void SmallDialogsTest::aboutCloses_data() {
    QTest::addColumn<CloseBy>("how");
    QTest::addColumn<int>("result");
    QTest::newRow("ok") << CloseBy::OkButton << int(QDialog::Accepted);
    QTest::newRow("enter") << CloseBy::Enter << int(QDialog::Accepted);
    QTest::newRow("esc") << CloseBy::Escape << int(QDialog::Rejected);
    QTest::newRow("close box") << CloseBy::CloseBox << int(QDialog::Rejected);
}

void SmallDialogsTest::aboutCloses() {
    QFETCH(CloseBy, how);
    QFETCH(int, result);
    CAboutDlg dlg;
    ShowActive(dlg);
    CloseDialog(dlg, how);
    QVERIFY(!dlg.isVisible());
    QCOMPARE(dlg.result(), result);
}

void SmallDialogsTest::modelEnterAcceptsFirstLine() {
    CDlgModel dlg;
    dlg.m_nModel = 0;
    ShowActive(dlg);
    QCOMPARE(dlg.windowTitle(), QString("Select Model"));
    QVERIFY(Ctrl<QRadioButton>(dlg, 1071)->isChecked());
    CloseDialog(dlg, CloseBy::Enter);
    QCOMPARE(dlg.result(), int(QDialog::Accepted));
    QCOMPARE(dlg.m_nModel, 0);
}

void SmallDialogsTest::modelPicks_data() {
    QTest::addColumn<int>("radio");
    QTest::addColumn<int>("model");
    QTest::newRow("380A/B, 390A/B Series") << 1071 << 0;
    QTest::newRow("360C Series") << 1072 << 1;
    QTest::newRow("HN7700 Series, past the group box") << 1073 << 2;
}

void SmallDialogsTest::modelPicks() {
    QFETCH(int, radio);
    QFETCH(int, model);
    CDlgModel dlg;
    ShowActive(dlg);
    ClickRadio(Ctrl<QRadioButton>(dlg, radio));
    for (int id : {1071, 1072, 1073}) {
        QCOMPARE(Ctrl<QRadioButton>(dlg, id)->isChecked(), id == radio);
    }
    CloseDialog(dlg, CloseBy::OkButton);
    QCOMPARE(dlg.result(), int(QDialog::Accepted));
    QCOMPARE(dlg.m_nModel, model);
}

void SmallDialogsTest::modelExitCancels_data() {
    QTest::addColumn<CloseBy>("how");
    QTest::newRow("exit") << CloseBy::OkButton;  // stands for the EXIT button below
    QTest::newRow("esc") << CloseBy::Escape;
    QTest::newRow("close box") << CloseBy::CloseBox;
}

void SmallDialogsTest::modelExitCancels() {
    QFETCH(CloseBy, how);
    CDlgModel dlg;
    ShowActive(dlg);
    ClickRadio(Ctrl<QRadioButton>(dlg, 1073));
    if (how == CloseBy::OkButton) {
        auto* exitButton = Ctrl<QPushButton>(dlg, 2);
        QCOMPARE(exitButton->text(), QString("EXIT"));
        QTest::mouseClick(exitButton, Qt::LeftButton);
    } else {
        CloseDialog(dlg, how);
    }
    QVERIFY(!dlg.isVisible());
    QCOMPARE(dlg.result(), int(QDialog::Rejected));
    QCOMPARE(dlg.m_nModel, 0);  // not read on cancel
}

void SmallDialogsTest::modelPreselects() {
    CDlgModel dlg;
    dlg.m_nModel = 1;
    ShowActive(dlg);
    QVERIFY(Ctrl<QRadioButton>(dlg, 1072)->isChecked());
    CloseDialog(dlg, CloseBy::Enter);
    QCOMPARE(dlg.m_nModel, 1);
}

QTEST_MAIN(SmallDialogsTest)
#include "tst_small_dialogs.moc"
