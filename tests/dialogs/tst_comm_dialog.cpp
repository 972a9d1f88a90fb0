#include <QClipboard>
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

// Types text one key at a time into whatever has the focus, as a keyboard does.
void Type(const QString& text) {
    for (const QChar c : text) {
        QWidget* target = QApplication::focusWidget();
        QVERIFY(target != nullptr);
        QTest::keyClicks(target, QString(c));
    }
}

QString Shown(CIpAddressCtrl& ctrl) {
    QStringList fields;
    for (int i = 0; i < 4; ++i) {
        fields << ctrl.Field(i)->text();
    }
    return fields.join('.');
}

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
    void escapeKeepsItOpenCloseBoxCancels();
    void usbReturnsMethodTwoAndBothTexts();
    void okButtonReadsTypedAddress();
    void typingAnAddress_data();
    void typingAnAddress();
    void pasteFillsEveryField();
    void backspaceAcrossADot();
    void tabWalksTheFieldsAndLeaves();
    void badInputIsClearAndKeptToWhatFits();

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

void CommDialogTest::escapeKeepsItOpenCloseBoxCancels() {
    Seed("IP", "9.9.9.9");
    auto dlg = Open("1.1.1.1", "::1", 1);
    for (QWidget* target : {static_cast<QWidget*>(Ctrl<QLineEdit>(*dlg, 1009)),
                            static_cast<QWidget*>(Ctrl<QRadioButton>(*dlg, 1105)),
                            static_cast<QWidget*>(dlg.get())}) {
        QTest::keyClick(target, Qt::Key_Escape);
    }
    QVERIFY(dlg->isVisible());
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

// How the user reaches the first field before typing.
enum class Entry { Click, Tab, SelectAll };
Q_DECLARE_METATYPE(Entry)

void CommDialogTest::typingAnAddress_data() {
    QTest::addColumn<QString>("old");
    QTest::addColumn<Entry>("entry");
    QTest::addColumn<QString>("typed");
    QTest::addColumn<QString>("address");
    for (const auto& [name, entry] :
         {std::pair{"click", Entry::Click}, std::pair{"tab", Entry::Tab}}) {
        for (const char* typed : {"127.0.0.1", "192.168.1.20", "10.0.0.5"}) {
            QTest::addRow("%s %s", name, typed) << "0.0.0.0" << entry << typed << typed;
        }
    }
    QTest::newRow("over an old address") << "192.168.100.200" << Entry::SelectAll << "1.2.3.4"
                                         << "1.2.3.4";
    QTest::newRow("click over an old address") << "172.16.254.3" << Entry::Click << "10.0.0.5"
                                               << "10.0.0.5";
    QTest::newRow("three digits then the dot") << "0.0.0.0" << Entry::Click << "192.168.001.020"
                                               << "192.168.1.20";
    QTest::newRow("three digits, no dots") << "0.0.0.0" << Entry::Tab << "192168001020"
                                           << "192.168.1.20";
    QTest::newRow("over 255 shows 255") << "0.0.0.0" << Entry::Click << "300.1.2.3"
                                        << "255.1.2.3";
    QTest::newRow("letters are ignored") << "0.0.0.0" << Entry::Click << "1a.b2.3c.4"
                                         << "1.2.3.4";
    QTest::newRow("a dot past the last field") << "0.0.0.0" << Entry::Tab << "1.2.3.4.5"
                                               << "1.2.3.45";
}

void CommDialogTest::typingAnAddress() {
    QFETCH(QString, old);
    QFETCH(Entry, entry);
    QFETCH(QString, typed);
    QFETCH(QString, address);
    Seed("Method", 1);
    Seed("IP", old);
    auto dlg = Open("0.0.0.0", "::1", 1);
    auto* ipv4 = Ctrl<CIpAddressCtrl>(*dlg, 1108);
    QCOMPARE(Shown(*ipv4), old);
    switch (entry) {
        case Entry::Click: {
            // Anywhere in the first field: the click lands left of or on its digits.
            QLineEdit* first = ipv4->Field(0);
            QTest::mouseClick(first, Qt::LeftButton, {}, QPoint(first->width() / 2 + 2, 5));
            break;
        }
        case Entry::Tab:
            Ctrl<QRadioButton>(*dlg, 1104)->setFocus();
            QTest::keyClick(QApplication::focusWidget(), Qt::Key_Tab);
            break;
        case Entry::SelectAll:
            ipv4->Field(0)->setFocus();
            QTest::keyClick(ipv4->Field(0), Qt::Key_A, Qt::ControlModifier);
            break;
    }
    QCOMPARE(QApplication::focusWidget(), ipv4->Field(0));
    Type(typed);
    QCOMPARE(QString::fromStdString(qv::FormatDottedQuad(ipv4->GetAddress())), address);
    QTest::keyClick(QApplication::focusWidget(), Qt::Key_Return);
    QCOMPARE(dlg->result(), int(QDialog::Accepted));
    QCOMPARE(QString::fromStdString(dlg->m_strIpv4), address);
    // What the fields show once left is the address itself, nothing carried into another field.
    QCOMPARE(Shown(*ipv4), address);
}

void CommDialogTest::pasteFillsEveryField() {
    Seed("Method", 1);
    auto dlg = Open("0.0.0.0", "::1", 1);
    auto* ipv4 = Ctrl<CIpAddressCtrl>(*dlg, 1108);
    for (int field = 0; field < 4; ++field) {
        ipv4->SetAddress(qv::Quad{9, 9, 9, 9});
        QApplication::clipboard()->setText(" 10.0.0.5\n");
        ipv4->Field(field)->setFocus();
        QTest::keyClick(ipv4->Field(field), Qt::Key_V, Qt::ControlModifier);
        QCOMPARE(Shown(*ipv4), QString("10.0.0.5"));
    }
    // Not an address: nothing changes.
    for (const char* junk : {"10.0.0", "10.0.0.256", "fe80::1", "hello"}) {
        QApplication::clipboard()->setText(junk);
        QTest::keyClick(ipv4->Field(1), Qt::Key_V, Qt::ControlModifier);
        QCOMPARE(Shown(*ipv4), QString("10.0.0.5"));
    }
    // One field's number goes into that field.
    QApplication::clipboard()->setText("42");
    ipv4->Field(2)->setFocus();
    QTest::keyClick(ipv4->Field(2), Qt::Key_V, Qt::ControlModifier);
    QCOMPARE(Shown(*ipv4), QString("10.0.42.5"));
}

void CommDialogTest::backspaceAcrossADot() {
    Seed("Method", 1);
    auto dlg = Open("0.0.0.0", "::1", 1);
    auto* ipv4 = Ctrl<CIpAddressCtrl>(*dlg, 1108);
    ipv4->ClearAddress();
    ipv4->Field(0)->setFocus();
    Type("192.16");
    QCOMPARE(QApplication::focusWidget(), ipv4->Field(1));
    // Two take "16" away, the third crosses the dot, the fourth deletes the "2".
    for (int i = 0; i < 4; ++i) {
        QTest::keyClick(QApplication::focusWidget(), Qt::Key_Backspace);
    }
    QCOMPARE(QApplication::focusWidget(), ipv4->Field(0));
    Type("3.7.8.9");
    QCOMPARE(QString::fromStdString(qv::FormatDottedQuad(ipv4->GetAddress())),
             QString("193.7.8.9"));
}

void CommDialogTest::tabWalksTheFieldsAndLeaves() {
    Seed("Method", 1);
    auto dlg = Open("0.0.0.0", "::1", 1);
    auto* ipv4 = Ctrl<CIpAddressCtrl>(*dlg, 1108);
    ipv4->Field(0)->setFocus();
    for (int i = 1; i < 4; ++i) {
        QTest::keyClick(QApplication::focusWidget(), Qt::Key_Tab);
        QCOMPARE(QApplication::focusWidget(), ipv4->Field(i));
    }
    QTest::keyClick(QApplication::focusWidget(), Qt::Key_Tab);
    QVERIFY(!ipv4->isAncestorOf(QApplication::focusWidget()));
    QTest::keyClick(QApplication::focusWidget(), Qt::Key_Backtab, Qt::ShiftModifier);
    QCOMPARE(QApplication::focusWidget(), ipv4->Field(3));
    QTest::keyClick(QApplication::focusWidget(), Qt::Key_Backtab, Qt::ShiftModifier);
    QCOMPARE(QApplication::focusWidget(), ipv4->Field(2));
}

void CommDialogTest::badInputIsClearAndKeptToWhatFits() {
    Seed("Method", 1);
    auto dlg = Open("0.0.0.0", "::1", 1);
    auto* ipv4 = Ctrl<CIpAddressCtrl>(*dlg, 1108);
    auto* edit = Ctrl<QLineEdit>(*dlg, 1009);
    // Fields left empty read as 0.
    ipv4->ClearAddress();
    ipv4->Field(0)->setFocus();
    Type("10");
    // An IPv6 text longer than the settings keep is cut where typing stops, not later.
    Ctrl<QRadioButton>(*dlg, 1105)->click();
    edit->setFocus();
    edit->clear();
    Type(QString(300, QLatin1Char('a')));
    QCOMPARE(edit->text().size(), qsizetype(qv::kMaxSettingText));
    QTest::keyClick(edit, Qt::Key_Return);
    QCOMPARE(dlg->result(), int(QDialog::Accepted));
    QCOMPARE(dlg->m_strIpv4, std::string("10.0.0.0"));
    QCOMPARE(dlg->m_strIpv6.size(), qv::kMaxSettingText);
    // What was confirmed is what the store gives back.
    store_->StoreCommunication(dlg->m_nMethod, dlg->m_strIpv4, dlg->m_strIpv6);
    QCOMPARE(store_->Load().ipv6, dlg->m_strIpv6);
}

QTEST_MAIN(CommDialogTest)
#include "tst_comm_dialog.moc"
