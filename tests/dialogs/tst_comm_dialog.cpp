#include <QLineEdit>
#include <QPushButton>
#include <QRadioButton>
#include <QSettings>
#include <QTemporaryDir>
#include <QtTest>
#include <memory>

#include "dialogs/CDlgCommNew.h"
#include "dialogs/CIpAddressCtrl.h"
#include "dialogs/DottedQuad.h"
#include "session/SettingsStore.h"

namespace {

// On its indicator: the label alone may not fill the button's box.
void ClickRadio(QRadioButton* radio) {
    QTest::mouseClick(radio, Qt::LeftButton, {}, QPoint(6, radio->height() / 2));
}

}  // namespace

class CommDialogTest : public QObject {
    Q_OBJECT
  private slots:
    void init();
    void cleanup();
    void shownValues_data();
    void shownValues();
    void methodRadios_data();
    void methodRadios();
    void clickingRadiosSwitchesControls();
    void enterInEditAccepts();
    void escapeDoesNotClose();
    void closeBoxCancels();
    void usbReturnsMethodTwoAndBothTexts();
    void okButtonReadsTypedAddress();

  private:
    // Shown, waiting for the initialisation to have run.
    std::unique_ptr<CDlgCommNew> Open(const std::string& ip, const std::string& ipv6, int method);
    void Seed(const char* name, const QVariant& value);
    template <typename T>
    T* Ctrl(CDlgCommNew& dlg, int id) {
        return dlg.findChild<T*>(QStringLiteral("ctrl%1").arg(id));
    }

    std::unique_ptr<QTemporaryDir> dir_;
    std::unique_ptr<qv::SettingsStore> store_;
    QString path_;
};

void CommDialogTest::init() {
    dir_ = std::make_unique<QTemporaryDir>();
    QVERIFY(dir_->isValid());
    path_ = dir_->filePath("settings.ini");
    store_ = std::make_unique<qv::SettingsStore>(path_.toStdString());
}

void CommDialogTest::cleanup() {
    store_.reset();
    dir_.reset();
}

void CommDialogTest::Seed(const char* name, const QVariant& value) {
    QSettings s(path_, QSettings::IniFormat);
    s.beginGroup("Connection");
    s.setValue(name, value);
    s.sync();
}

std::unique_ptr<CDlgCommNew> CommDialogTest::Open(const std::string& ip, const std::string& ipv6,
                                                  int method) {
    auto dlg = std::make_unique<CDlgCommNew>(*store_);
    dlg->m_strIpv4 = ip;
    dlg->m_strIpv6 = ipv6;
    dlg->m_nMethod = method;
    dlg->show();
    dlg->activateWindow();
    if (!QTest::qWaitForWindowActive(dlg.get())) {
        qWarning("dialog not active");
    }
    return dlg;
}

void CommDialogTest::shownValues_data() {
    QTest::addColumn<QVariant>("storedIp");    // invalid: value missing
    QTest::addColumn<QVariant>("storedIpv6");  // invalid: value missing
    QTest::addColumn<bool>("key");
    QTest::addColumn<QString>("shownIp");
    QTest::addColumn<QString>("shownIpv6");

    const QString long6 = "2001:0db8:85a3:0000:0000:8a2e:0370:7334";  // 39 characters
    QTest::newRow("stored two dots")
        << QVariant("192.168.1") << QVariant(long6) << true << "192.168.0.1" << long6;
    QTest::newRow("stored wraps") << QVariant("300.1.2.3") << QVariant("fe80::1") << true
                                  << "44.1.2.3"
                                  << "fe80::1";
    QTest::newRow("stored short ip, long ipv6")
        << QVariant("1.2.3.4") << QVariant(long6) << true << "1.2.3.4" << long6;
    QTest::newRow("values missing") << QVariant() << QVariant() << true << "10.0.0.7"
                                    << "0:0:0:0:0:0:0:1";
    QTest::newRow("no key") << QVariant() << QVariant() << false << "0.0.0.0"
                            << "0:0:0:0:0:0:0:1";
}

void CommDialogTest::shownValues() {
    QFETCH(QVariant, storedIp);
    QFETCH(QVariant, storedIpv6);
    QFETCH(bool, key);
    QFETCH(QString, shownIp);
    QFETCH(QString, shownIpv6);
    if (key) {
        Seed("Method", 1);
    }
    if (storedIp.isValid()) {
        Seed("IP", storedIp);
    }
    if (storedIpv6.isValid()) {
        Seed("IPV6", storedIpv6);
    }
    QCOMPARE(store_->KeyExists(), key);

    // The caller's texts are what a panel holds; the store wins where it has a value.
    auto dlg = Open("10.0.0.7", "caller::1", 1);
    auto* ipv4 = Ctrl<CIpAddressCtrl>(*dlg, 1108);
    auto* ipv6 = Ctrl<QLineEdit>(*dlg, 1009);
    QVERIFY(ipv4 && ipv6);
    QCOMPARE(QString::fromStdString(qv::FormatDottedQuad(ipv4->GetAddress())), shownIp);
    QCOMPARE(ipv6->text(), shownIpv6);
    QCOMPARE(QString::fromStdString(dlg->m_strIpv6), shownIpv6);
}

void CommDialogTest::methodRadios_data() {
    QTest::addColumn<int>("method");
    QTest::addColumn<int>("checked");
    QTest::addColumn<bool>("ipv4Enabled");
    QTest::addColumn<bool>("editEnabled");
    QTest::newRow("ipv4") << 1 << 1104 << true << false;
    QTest::newRow("usb") << 2 << 1106 << false << false;
    QTest::newRow("ipv6") << 3 << 1105 << false << true;
    QTest::newRow("unknown reads as usb") << 5 << 1106 << false << false;
    QTest::newRow("zero reads as usb") << 0 << 1106 << false << false;
}

void CommDialogTest::methodRadios() {
    QFETCH(int, method);
    QFETCH(int, checked);
    QFETCH(bool, ipv4Enabled);
    QFETCH(bool, editEnabled);
    Seed("Method", method);
    auto dlg = Open("1.1.1.1", "::1", method);
    for (int id : {1104, 1105, 1106}) {
        QCOMPARE(Ctrl<QRadioButton>(*dlg, id)->isChecked(), id == checked);
    }
    QCOMPARE(Ctrl<CIpAddressCtrl>(*dlg, 1108)->isEnabled(), ipv4Enabled);
    QCOMPARE(Ctrl<QLineEdit>(*dlg, 1009)->isEnabled(), editEnabled);
}

void CommDialogTest::clickingRadiosSwitchesControls() {
    auto dlg = Open("1.1.1.1", "::1", 2);
    auto* ipv4 = Ctrl<CIpAddressCtrl>(*dlg, 1108);
    auto* edit = Ctrl<QLineEdit>(*dlg, 1009);
    struct Step {
        int radio;
        bool ipv4;
        bool edit;
    };
    for (const Step& s : {Step{1104, true, false}, Step{1105, false, true},
                          Step{1106, false, false}, Step{1105, false, true}}) {
        ClickRadio(Ctrl<QRadioButton>(*dlg, s.radio));
        QVERIFY(Ctrl<QRadioButton>(*dlg, s.radio)->isChecked());
        QCOMPARE(ipv4->isEnabled(), s.ipv4);
        QCOMPARE(edit->isEnabled(), s.edit);
    }
}

void CommDialogTest::enterInEditAccepts() {
    auto dlg = Open("1.1.1.1", "::1", 3);
    auto* edit = Ctrl<QLineEdit>(*dlg, 1009);
    edit->setFocus();
    edit->clear();
    QTest::keyClicks(edit, "fd00::42");
    QTest::keyClick(edit, Qt::Key_Return);
    QCOMPARE(dlg->result(), int(QDialog::Accepted));
    QVERIFY(!dlg->isVisible());
    QCOMPARE(dlg->m_strIpv6, std::string("fd00::42"));
    QCOMPARE(dlg->m_nMethod, 3);
}

void CommDialogTest::escapeDoesNotClose() {
    auto dlg = Open("1.1.1.1", "::1", 3);
    auto* edit = Ctrl<QLineEdit>(*dlg, 1009);
    QTest::keyClick(edit, Qt::Key_Escape);
    QTest::keyClick(Ctrl<QRadioButton>(*dlg, 1105), Qt::Key_Escape);
    QTest::keyClick(dlg.get(), Qt::Key_Escape);
    QVERIFY(dlg->isVisible());
    QCOMPARE(dlg->result(), 0);
}

void CommDialogTest::closeBoxCancels() {
    Seed("IP", "9.9.9.9");
    auto dlg = Open("1.1.1.1", "::1", 1);
    ClickRadio(Ctrl<QRadioButton>(*dlg, 1106));
    QVERIFY(dlg->close());
    QCOMPARE(dlg->result(), int(QDialog::Rejected));
    QCOMPARE(dlg->m_nMethod, 1);  // nothing taken from the controls
}

void CommDialogTest::usbReturnsMethodTwoAndBothTexts() {
    Seed("IP", "10.20.30.40");
    Seed("IPV6", "fe80::7");
    auto dlg = Open("1.1.1.1", "::1", 1);
    ClickRadio(Ctrl<QRadioButton>(*dlg, 1106));
    QTest::mouseClick(Ctrl<QPushButton>(*dlg, 1107), Qt::LeftButton);
    QCOMPARE(dlg->result(), int(QDialog::Accepted));
    QCOMPARE(dlg->m_nMethod, 2);
    QCOMPARE(dlg->m_strIpv4, std::string("10.20.30.40"));
    QCOMPARE(dlg->m_strIpv6, std::string("fe80::7"));
}

void CommDialogTest::okButtonReadsTypedAddress() {
    Seed("Method", 1);
    auto dlg = Open("0.0.0.0", "::1", 1);
    auto* ipv4 = Ctrl<CIpAddressCtrl>(*dlg, 1108);
    for (int i = 0; i < 4; ++i) {
        ipv4->Field(i)->clear();
    }
    ipv4->Field(0)->setFocus();
    for (const QChar c : QString("192.168.10.250")) {
        QTest::keyClicks(QApplication::focusWidget(), QString(c));
    }
    // Enter while the address control has the focus accepts too.
    QTest::keyClick(QApplication::focusWidget(), Qt::Key_Enter);
    QCOMPARE(dlg->result(), int(QDialog::Accepted));
    QCOMPARE(dlg->m_nMethod, 1);
    QCOMPARE(dlg->m_strIpv4, std::string("192.168.10.250"));
}

QTEST_MAIN(CommDialogTest)
#include "tst_comm_dialog.moc"
