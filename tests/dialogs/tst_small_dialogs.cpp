// The model-line dialog, the IP address dialog with the dotted-quad parse, the
// connection-failed message and the about box: their texts and answers as the user meets them.
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QRadioButton>
#include <QtTest>

#include "dialogs/CAboutDlg.h"
#include "dialogs/CDlgIP.h"
#include "dialogs/CDlgModel.h"
#include "dialogs/CDlgMsg.h"
#include "dialogs/CIpAddressCtrl.h"
#include "dialogs/DottedQuad.h"
#include "widgets/SkinLibrary.h"

namespace {

template <typename T>
T* Ctrl(QWidget& dlg, int id) {
    return dlg.findChild<T*>(QStringLiteral("ctrl%1").arg(id));
}

void ShowActive(QWidget& w) {
    w.show();
    w.activateWindow();
    if (!QTest::qWaitForWindowActive(&w)) {
        qWarning("window not active");
    }
}

QString Text(const qv::Quad& q) {
    return QString::fromStdString(qv::FormatDottedQuad(q));
}

}  // namespace

class SmallDialogsTest : public QObject {
    Q_OBJECT
  private slots:
    void modelLines_data();
    void modelLines();
    void dottedQuad_data();
    void dottedQuad();
    void ipDialog();
    void failureReasons_data();
    void failureReasons();
    void aboutTexts();
};

// Which line each answer gives; Enter takes the preselected one, EXIT, Esc and the close box
// cancel without reading the choice.
void SmallDialogsTest::modelLines_data() {
    QTest::addColumn<int>("preset");
    QTest::addColumn<int>("radio");  // 0: none clicked
    QTest::addColumn<QString>("close");
    QTest::addColumn<int>("result");
    QTest::addColumn<int>("model");
    QTest::newRow("Enter at once") << 0 << 0 << "enter" << 1 << 0;
    QTest::newRow("Enter, second preset") << 1 << 0 << "enter" << 1 << 1;
    QTest::newRow("360C Series") << 0 << 1072 << "ok" << 1 << 1;
    QTest::newRow("HN7700 Series, past the group box") << 0 << 1073 << "ok" << 1 << 2;
    QTest::newRow("EXIT") << 0 << 1073 << "exit" << 0 << 0;
    QTest::newRow("Esc") << 0 << 1072 << "esc" << 0 << 0;
    QTest::newRow("close box") << 0 << 1073 << "close" << 0 << 0;
}

void SmallDialogsTest::modelLines() {
    QFETCH(int, preset);
    QFETCH(int, radio);
    QFETCH(QString, close);
    CDlgModel dlg;
    dlg.m_nModel = preset;
    ShowActive(dlg);
    QCOMPARE(dlg.windowTitle(), QStringLiteral("Select Model"));
    QVERIFY(Ctrl<QRadioButton>(dlg, 1071 + preset)->isChecked());
    if (radio != 0) {
        auto* r = Ctrl<QRadioButton>(dlg, radio);
        QTest::mouseClick(r, Qt::LeftButton, {}, QPoint(6, r->height() / 2));
        for (const int id : {1071, 1072, 1073}) {
            QCOMPARE(Ctrl<QRadioButton>(dlg, id)->isChecked(), id == radio);
        }
    }
    if (close == "enter") {
        QTest::keyClick(QApplication::focusWidget(), Qt::Key_Return);
    } else if (close == "ok" || close == "exit") {
        auto* button = Ctrl<QPushButton>(dlg, close == "ok" ? 1 : 2);
        QCOMPARE(button->text(), close == "ok" ? QStringLiteral("OK") : QStringLiteral("EXIT"));
        QTest::mouseClick(button, Qt::LeftButton);
    } else if (close == "esc") {
        QTest::keyClick(&dlg, Qt::Key_Escape);
    } else {
        dlg.close();
    }
    QVERIFY(!dlg.isVisible());
    QFETCH(int, result);
    QFETCH(int, model);
    QCOMPARE(dlg.result(), result);
    QCOMPARE(dlg.m_nModel, model);
}

void SmallDialogsTest::dottedQuad_data() {
    QTest::addColumn<QByteArray>("text");
    QTest::addColumn<QString>("shown");
    QTest::newRow("plain") << QByteArray("192.168.1.1") << "192.168.1.1";
    QTest::newRow("two dots") << QByteArray("192.168.1") << "192.168.0.1";
    QTest::newRow("one dot") << QByteArray("1.2") << "1.0.0.2";
    QTest::newRow("no dot") << QByteArray("12") << "0.0.0.12";
    QTest::newRow("low 8 bits") << QByteArray("300.1.2.3") << "44.1.2.3";
    QTest::newRow("wraps") << QByteArray("256.257.-256.511") << "0.1.0.255";
    QTest::newRow("empty") << QByteArray("") << "0.0.0.0";
    QTest::newRow("blanks and signs") << QByteArray("  10. +20.-1.\t4") << "10.20.255.4";
    QTest::newRow("two signs") << QByteArray("+-5.1.1.1") << "0.1.1.1";
    QTest::newRow("sign then blank") << QByteArray("- 5.1.1.1") << "0.1.1.1";
    QTest::newRow("letters") << QByteArray("a.b.c.d") << "0.0.0.0";
    QTest::newRow("trailing junk") << QByteArray("10x.20y.30z.40 w") << "10.20.30.40";
    QTest::newRow("empty field") << QByteArray("1..3.4") << "1.0.3.4";
    QTest::newRow("extra fields") << QByteArray("1.2.3.4.5") << "1.2.3.4";
    QTest::newRow("huge saturates") << QByteArray("99999999999999999999.1.1.1") << "255.1.1.1";
    QTest::newRow("huge negative") << QByteArray("-99999999999999999999.1.1.1") << "0.1.1.1";
}

void SmallDialogsTest::dottedQuad() {
    QFETCH(QByteArray, text);
    QFETCH(QString, shown);
    QCOMPARE(Text(qv::ParseDottedQuad(std::string_view(text.constData(), text.size()))), shown);
}

// Shows the text it is given, parsed; OK (button or Enter) returns the control's address,
// Esc leaves the text as it was.
void SmallDialogsTest::ipDialog() {
    for (const char* given : {"10.0.0.5", "", "300.1.2.3"}) {
        CDlgIP dlg;
        dlg.m_strIp = given;
        ShowActive(dlg);
        QCOMPARE(dlg.windowTitle(), QStringLiteral("IP Address Setting"));
        const QString shown = Text(qv::ParseDottedQuad(given));
        QCOMPARE(Text(Ctrl<CIpAddressCtrl>(dlg, 1063)->GetAddress()), shown);
        QTest::mouseClick(Ctrl<QPushButton>(dlg, 1064), Qt::LeftButton);
        QCOMPARE(dlg.result(), int(QDialog::Accepted));
        QCOMPARE(QString::fromStdString(dlg.m_strIp), shown);
    }
    for (const Qt::Key key : {Qt::Key_Return, Qt::Key_Escape}) {
        CDlgIP dlg;
        dlg.m_strIp = "10.0.0.5";
        ShowActive(dlg);
        QLineEdit* last = Ctrl<CIpAddressCtrl>(dlg, 1063)->Field(3);
        last->setText("9");
        QTest::keyClick(last, key);
        QVERIFY(!dlg.isVisible());
        QCOMPARE(dlg.m_strIp, key == Qt::Key_Return ? "10.0.0.9" : "10.0.0.5");
    }
}

void SmallDialogsTest::failureReasons_data() {
    QTest::addColumn<int>("reason");
    QTest::addColumn<QString>("title");
    QTest::addColumn<QStringList>("lines");
    const QStringList usual{
        "  1) The remote instrument is turned off",
        "  2) The remote instrument is not available on the network",
        "Make sure the remote instrument is turned on and connected to the network"};
    QTest::newRow("1 tcp") << 1 << "Connection Failed" << usual;
    QTest::newRow("2 usb") << 2 << "Cannot Connect to the Intrument" << usual;
    QTest::newRow("3 equipment")
        << 3 << "Connection Failed"
        << QStringList{"  1) IP you entered is being used by another program",
                       "  2) The remote instrument is being used by another program",
                       "Make sure the remote instrument is connected to the network, and no other "
                       "program is connected to it.  If you are not sure, try again after "
                       "rebooting the remote instrument."};
    QTest::newRow("7 unknown") << 7 << "Cannot Connect to the Intrument" << usual;
}

void SmallDialogsTest::failureReasons() {
    QFETCH(int, reason);
    QFETCH(QString, title);
    QFETCH(QStringList, lines);
    CDlgMsg dlg(reason);
    ShowActive(dlg);
    QCOMPARE(dlg.windowTitle(), title);
    QCOMPARE(Ctrl<QLabel>(dlg, 1067)->text(),
             QString("Remote Controller cannot connect to the remote instrument for the one of "
                     "these reasons:"));
    QCOMPARE((QStringList{Ctrl<QLabel>(dlg, 1068)->text(), Ctrl<QLabel>(dlg, 1069)->text(),
                          Ctrl<QLabel>(dlg, 1070)->text()}),
             lines);
    QVERIFY(Ctrl<QLabel>(dlg, 1070)->isVisible());
}

void SmallDialogsTest::aboutTexts() {
    CAboutDlg dlg;
    ShowActive(dlg);
    QCOMPARE(dlg.windowTitle(), QString("QVRemote Infomation"));
    QCOMPARE(Ctrl<QLabel>(dlg, 1065)->text(), QString("QVRemote, Version 2.1"));
    QVERIFY(!Ctrl<QLabel>(dlg, 1066)->text().isEmpty());
    // Icon 128 of the skin, whatever icon the application holds (none here).
    auto* icon = dlg.findChild<QLabel*>("ctrlIcon128");
    QVERIFY(icon != nullptr);
    QCOMPARE(icon->pixmap().toImage().convertToFormat(QImage::Format_ARGB32),
             qv::SkinImage(128).convertToFormat(QImage::Format_ARGB32));
    QTest::keyClick(&dlg, Qt::Key_Return);
    QCOMPARE(dlg.result(), int(QDialog::Accepted));
}

QTEST_MAIN(SmallDialogsTest)
#include "tst_small_dialogs.moc"
