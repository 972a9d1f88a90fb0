// The dialogs as the user meets them. Communication: what it shows from the settings, its
// answers, typing an address key by key; the dotted-quad parse and the connection-failed
// message. The share dialog's links and codes. The transfer dialog against the simulated
// instrument: modes, answer codes, failures.
#include <QClipboard>
#include <QComboBox>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QRadioButton>
#include <QSettings>
#include <QTemporaryDir>
#include <QtTest>

#include "dialogs/CDlgCommNew.h"
#include "dialogs/CDlgMsg.h"
#include "dialogs/CIpAddressCtrl.h"
#include "dialogs/CShareDlg.h"
#include "dialogs/CXferDataDialog.h"
#include "dialogs/DottedQuad.h"
#include "link/CDevComm.h"
#include "link/CommandSet.h"
#include "session/SettingsStore.h"
#include "sim/SimServer.h"

namespace {

template <typename T>
T* Ctrl(QWidget& dlg, int id) {
    return dlg.findChild<T*>(QStringLiteral("ctrl%1").arg(id));
}

// Types text one key at a time into whatever has the focus, as a keyboard does.
void Type(const QString& text) {
    for (const QChar c : text) {
        QTest::keyClicks(QApplication::focusWidget(), QString(c));
    }
}

QString Shown(CIpAddressCtrl& c) {
    return c.Field(0)->text() + '.' + c.Field(1)->text() + '.' + c.Field(2)->text() + '.' +
           c.Field(3)->text();
}

// On its indicator: the label alone may not fill the button's box.
void ClickRadio(QRadioButton* radio) {
    QTest::mouseClick(radio, Qt::LeftButton, {}, QPoint(6, radio->height() / 2));
}

// How the user reaches the first field before typing.
enum Entry { kClick, kTab, kSelectAll };

bool LabelWith(const QWidget& dlg, const char* text) {
    for (const QLabel* l : dlg.findChildren<QLabel*>()) {
        if (l->isVisibleTo(&dlg) && l->text().contains(QLatin1String(text))) {
            return true;
        }
    }
    return false;
}

}  // namespace

class DialogsTest : public QObject {
    Q_OBJECT
    std::unique_ptr<QTemporaryDir> dir_;
    std::unique_ptr<qv::SettingsStore> store_;
    std::unique_ptr<qv::sim::SimServer> sim_;
    std::unique_ptr<qv::CDevComm> dev_;
    QStringList boxes_;

    // Communication over the caller's session texts; the store wins where it has a value.
    std::unique_ptr<CDlgCommNew> Open(int method) {
        auto dlg = std::make_unique<CDlgCommNew>(*store_);
        dlg->m_strIpv4 = "10.0.0.7";
        dlg->m_strIpv6 = "caller::1";
        dlg->m_nMethod = method;
        dlg->show();
        dlg->activateWindow();
        [&] { QVERIFY(QTest::qWaitForWindowActive(dlg.get())); }();
        return dlg;
    }
    // A fresh simulator and a link to it over TCP, for the transfer dialog.
    void Connect() {
        dev_.reset();  // before the peer it talks to
        boxes_.clear();
        sim_ = std::make_unique<qv::sim::SimServer>();
        QVERIFY(sim_->Start("127.0.0.1", 0));
        dev_ = std::make_unique<qv::CDevComm>();
        dev_->Init();
        dev_->SetPort(sim_->port());
        QCOMPARE(dev_->ConnectTcp(), 1);
    }
    // The transfer dialog run over the link, collecting the boxes it would show.
    int Run(CXferDataDialog& dlg, int mode, std::uint8_t code = 0) {
        dlg.m_pDevComm = dev_.get();
        dlg.m_nMethod = 1;
        dlg.m_nMode = mode;
        dlg.m_cmd = qv::kCmdRequest;
        dlg.m_code = code;
        dlg.messageBox = [this](const QString& text) { boxes_ << text; };
        return dlg.exec();
    }
    void Answer(std::uint8_t code, QByteArray data) {
        sim_->instrument().SetAnswer(code, std::vector<std::uint8_t>(data.begin(), data.end()));
    }
    void Seed(std::initializer_list<std::pair<const char*, QVariant>> values) {
        QSettings s(dir_->filePath("settings.ini"), QSettings::IniFormat);
        for (const auto& [name, value] : values) {
            if (value.isValid()) {
                s.setValue(QStringLiteral("Connection/") + name, value);
            }
        }
    }

  private slots:
    void init() {
        store_.reset();
        dir_ = std::make_unique<QTemporaryDir>();
        QVERIFY(dir_->isValid());
        store_ = std::make_unique<qv::SettingsStore>(dir_->filePath("settings.ini").toStdString());
    }

    // Stored method, address and IPv6 text (invalid: not there): what the dialog shows and
    // which radio is checked. A missing value leaves the session's address.
    void communicationShowsTheStore() {
        const QVariant none;
        const QString long6 = "2001:0db8:85a3:0000:0000:8a2e:0370:7334";  // 39 characters
        const QString one6 = "0:0:0:0:0:0:0:1";
        const std::tuple<QVariant, QVariant, QVariant, QStringList, int> rows[] = {
            {1, "192.168.1", long6, {"192.168.0.1", long6}, 1104},
            {3, "300.1.2.3", "fe80::1", {"44.1.2.3", "fe80::1"}, 1105},
            {5, none, none, {"10.0.0.7", one6}, 1106},  // unknown methods read as USB
            {none, none, none, {"0.0.0.0", one6}, 1106}};
        for (const auto& [method, ip, ipv6, shown, radio] : rows) {
            init();
            Seed({{"Method", method}, {"IP", ip}, {"IPV6", ipv6}});
            QCOMPARE(store_->KeyExists(), method.isValid());
            auto dlg = Open(method.toInt());
            auto* ipv4 = Ctrl<CIpAddressCtrl>(*dlg, 1108);
            auto* edit = Ctrl<QLineEdit>(*dlg, 1009);
            QCOMPARE(
                (QStringList{Shown(*ipv4), edit->text(), QString::fromStdString(dlg->m_strIpv6)}),
                shown + QStringList{shown[1]});
            QCOMPARE(std::tuple(Ctrl<QRadioButton>(*dlg, radio)->isChecked(), ipv4->isEnabled(),
                                edit->isEnabled()),
                     std::tuple(true, radio == 1104, radio == 1105));
        }
    }

    // Esc is consumed; the close box cancels, taking nothing from the controls; OK or Enter
    // stores the method of the radio clicked and both texts. Fields left empty read as 0; an IPv6
    // text longer than the settings keep is cut where typing stops, and what Enter confirmed is
    // what the store gives back.
    void communicationAnswers() {
        Seed({{"IP", "10.20.30.40"}, {"IPV6", "fe80::7"}});
        auto dlg = Open(1);
        QTest::keyClick(Ctrl<QLineEdit>(*dlg, 1009), Qt::Key_Escape);
        QTest::keyClick(dlg.get(), Qt::Key_Escape);
        QVERIFY(dlg->isVisible());
        ClickRadio(Ctrl<QRadioButton>(*dlg, 1105));
        QVERIFY(dlg->close());
        QCOMPARE(dlg->result(), int(QDialog::Rejected));
        QCOMPARE(dlg->m_nMethod, 1);
        dlg = Open(1);
        ClickRadio(Ctrl<QRadioButton>(*dlg, 1106));
        QVERIFY(!Ctrl<CIpAddressCtrl>(*dlg, 1108)->isEnabled());
        QTest::mouseClick(Ctrl<QPushButton>(*dlg, 1107), Qt::LeftButton);
        QCOMPARE(dlg->result(), int(QDialog::Accepted));
        QCOMPARE(std::tuple(dlg->m_nMethod, dlg->m_strIpv4, dlg->m_strIpv6),
                 std::tuple(2, std::string("10.20.30.40"), std::string("fe80::7")));
        dlg = Open(1);
        auto* edit = Ctrl<QLineEdit>(*dlg, 1009);
        Ctrl<CIpAddressCtrl>(*dlg, 1108)->ClearAddress();
        QTest::keyClick(QApplication::focusWidget(), Qt::Key_Tab);  // into the address
        Type("10");
        ClickRadio(Ctrl<QRadioButton>(*dlg, 1105));
        edit->setFocus();
        edit->clear();
        Type(QString(300, QLatin1Char('a')));
        QCOMPARE(edit->text().size(), qsizetype(qv::kMaxSettingText));
        QTest::keyClick(edit, Qt::Key_Return);
        QCOMPARE(std::tuple(dlg->result(), dlg->m_nMethod, dlg->m_strIpv4),
                 std::tuple(int(QDialog::Accepted), 3, std::string("10.0.0.0")));
        store_->StoreCommunication(dlg->m_nMethod, dlg->m_strIpv4, dlg->m_strIpv6);
        QCOMPARE(store_->Load().ipv6, std::string(qv::kMaxSettingText, 'a'));
    }

    // An address typed key by key into the first field, reached by a click, by Tab from the
    // checked radio or by Ctrl+A over the old one; Enter confirms it, and once left each field
    // shows its number.
    void typingAnAddress() {
        const char* const o = "0.0.0.0";
        std::vector<std::tuple<Entry, QString, QString, QString>> rows = {
            {kSelectAll, "192.168.100.200", "1.2.3.4", "1.2.3.4"},
            {kClick, o, "192.168.001.020", "192.168.1.20"},  // three digits, a dot
            {kClick, o, "300.1.256.255", "255.1.255.255"},
            {kClick, o, "1a.b2.3c.4", "1.2.3.4"},  // letters are ignored
            {kTab, o, "1.2.3.4.5", "1.2.3.45"}};   // there is no fifth field
        for (const char* typed : {"127.0.0.1", "192.168.1.20", "10.0.0.5"}) {
            rows.insert(rows.end(),
                        {{kClick, "172.16.254.3", typed, typed}, {kTab, o, typed, typed}});
        }
        for (const auto& [entry, old, typed, address] : rows) {
            init();
            Seed({{"Method", 1}, {"IP", old}});
            auto dlg = Open(1);
            auto* ipv4 = Ctrl<CIpAddressCtrl>(*dlg, 1108);
            QLineEdit* first = ipv4->Field(0);
            QCOMPARE(Shown(*ipv4), old);
            if (entry == kClick) {  // right of the middle: on or past the digits
                QTest::mouseClick(first, Qt::LeftButton, {}, QPoint(first->width() / 2 + 2, 5));
            } else if (entry == kTab) {  // from the checked radio
                QTest::keyClick(QApplication::focusWidget(), Qt::Key_Tab);
            } else {
                first->setFocus();
                QTest::keyClick(first, Qt::Key_A, Qt::ControlModifier);
            }
            QCOMPARE(std::pair(typed, QApplication::focusWidget() == first),
                     std::pair(typed, true));
            Type(typed);
            QTest::keyClick(QApplication::focusWidget(), Qt::Key_Return);
            QCOMPARE(std::tuple(typed, dlg->result(), QString::fromStdString(dlg->m_strIpv4),
                                Shown(*ipv4)),
                     std::tuple(typed, int(QDialog::Accepted), address, address));
        }
    }

    // A whole address pasted into any field fills all four; anything else is refused, but a
    // number goes into its field. Backspace at a field's start crosses the dot; Tab leaves the
    // control from its last field.
    void pasteBackspaceTabAndBadInput() {
        auto dlg = Open(1);
        auto* ipv4 = Ctrl<CIpAddressCtrl>(*dlg, 1108);
        const auto paste = [&](int field, const char* text) {
            QApplication::clipboard()->setText(text);
            ipv4->Field(field)->setFocus();
            QTest::keyClick(ipv4->Field(field), Qt::Key_V, Qt::ControlModifier);
            return Shown(*ipv4);
        };
        for (int field = 0; field < 4; ++field) {
            ipv4->SetAddress(qv::Quad{9, 9, 9, 9});
            QCOMPARE(paste(field, " 10.0.0.5\n"), QString("10.0.0.5"));
        }
        for (const char* junk : {"10.0.0", "10.0.0.256", "fe80::1", "hello"}) {
            QCOMPARE(paste(1, junk), QString("10.0.0.5"));
        }
        QCOMPARE(paste(2, "42"), QString("10.0.42.5"));
        // Two Backspaces take "16" away, the third crosses the dot, the fourth deletes the "2".
        ipv4->ClearAddress();
        ipv4->Field(0)->setFocus();
        Type("192.16");
        for (int i = 0; i < 4; ++i) {
            QTest::keyClick(QApplication::focusWidget(), Qt::Key_Backspace);
        }
        QCOMPARE(QApplication::focusWidget(), ipv4->Field(0));
        Type("3.7.8.9");
        QCOMPARE(Shown(*ipv4), QString("193.7.8.9"));
        QTest::keyClick(QApplication::focusWidget(), Qt::Key_Tab);  // from the last field
        QVERIFY(!ipv4->isAncestorOf(QApplication::focusWidget()));
        QTest::keyClick(QApplication::focusWidget(), Qt::Key_Backtab, Qt::ShiftModifier);
        QCOMPARE(QApplication::focusWidget(), ipv4->Field(3));
    }

    // Stored text becomes an address field by field, each the low byte of its leading number.
    void dottedQuad() {
        // clang-format off
        const std::pair<const char*, const char*> quads[] = {
            {"12", "0.0.0.12"}, {"256.257.-256.511", "0.1.0.255"}, {"", "0.0.0.0"},
            {"  10. +20.-1.\t4", "10.20.255.4"}, {"+-5.1.1.1", "0.1.1.1"},
            {"10x.20y.30z.40 w", "10.20.30.40"}, {"1..3.4", "1.0.3.4"}, {"1.2.3.4.5", "1.2.3.4"},
            {"99999999999999999999.1.1.1", "255.1.1.1"}, {"-99999999999999999999.1.1.1", "0.1.1.1"}};
        // clang-format on
        for (const auto& [text, shown] : quads) {
            QCOMPARE(QString::fromStdString(qv::FormatDottedQuad(qv::ParseDottedQuad(text))),
                     shown);
        }
    }

    // Reason 3 is the busy instrument; the title follows the reason.
    void failureReasons() {
        for (const int reason : {1, 2, 3}) {
            CDlgMsg dlg(reason);
            dlg.show();
            QCOMPARE(dlg.windowTitle() == "Connection Failed", reason != 2);
            QCOMPARE(Ctrl<QLabel>(dlg, 1068)->text(),
                     reason == 3 ? "  1) IP you entered is being used by another program"
                                 : "  1) The remote instrument is turned off");
            QVERIFY(Ctrl<QLabel>(dlg, 1070)->isVisible());
        }
    }

    // Where and how to share; the links once the share listens, each with its code; the reason
    // a share could not start.
    void dialogLinksQrCodesAndWarning() {
        ShareChoice given;
        CShareDlg dlg(given);
        ShareChoice applied;
        dlg.onApply = [&](const ShareChoice& c, QString&) {
            applied = c;
            return true;
        };
        dlg.show();
        QVERIFY(!LabelWith(dlg, "Anyone"));  // this computer only, the default
        dlg.findChild<QComboBox*>("shareWhere")->setCurrentIndex(1);
        QVERIFY(LabelWith(dlg, "Anyone"));
        dlg.findChild<QRadioButton*>("shareMode1")->setChecked(true);
        for (QPushButton* b : dlg.findChildren<QPushButton*>()) {
            if (b->text().remove('&') == "Apply") {
                b->click();
            }
        }
        QCOMPARE(applied.mode, int(ShareChoice::View));
        QVERIFY(applied.allNetworks);
        QCOMPARE(applied.port, 8066);
        // Taken, not yet listening: no link until the share says where it listens.
        QVERIFY(dlg.findChild<QLineEdit*>("shareLinkView") == nullptr);
        QVERIFY(LabelWith(dlg, "Starting the share"));
        // The chosen port was in use: the link and the tunnel hint carry the one taken.
        dlg.ShowLinks({{"View", "http://127.0.0.1:8067/#00112233445566778899aabbccddeeff"}}, false);
        QVERIFY(!LabelWith(dlg, "Starting the share"));
        QVERIFY(LabelWith(dlg, "ssh -L 8067:127.0.0.1:8067"));
        auto* link = dlg.findChild<QLineEdit*>("shareLinkView");
        QVERIFY(link != nullptr);
        QCOMPARE(link->text(),
                 QStringLiteral("http://127.0.0.1:8067/#00112233445566778899aabbccddeeff"));
        bool qr = false;
        for (QLabel* l : dlg.findChildren<QLabel*>()) {
            qr = qr || (!l->pixmap().isNull() && l->pixmap().width() == l->pixmap().height());
        }
        QVERIFY(qr);
        // A link of this length is a version 4 code: 33 modules and the quiet zone of 4.
        const QImage code = QrCodeImage(link->text(), 2);
        QCOMPARE(code.width(), (33 + 8) * 2);
        QCOMPARE(code.pixel(0, 0), qRgb(255, 255, 255));
        QCOMPARE(code.pixel(8, 8), qRgb(0, 0, 0));  // the finder pattern's corner

        // A share that could not start: its reason, and no link left standing.
        dlg.ShowError(QStringLiteral("The address is already in use"));
        QTRY_VERIFY(dlg.findChild<QLineEdit*>("shareLinkView") == nullptr);
        QVERIFY(LabelWith(dlg, "The address is already in use"));
        QVERIFY(!LabelWith(dlg, "ssh -L"));
    }

    // Answer code and data: whether the dialog accepts, the boxes shown, the link kept.
    void answerCodes() {
        const std::tuple<int, QByteArray, bool, QStringList, int> rows[] = {
            {80, {}, true, {"STR_ERR_EQUIP_CMD"}, 0},
            {80, QByteArray("QV392B", 7), true, {}, 1},
            {151, {}, true, {"The command is not supported on the type of machine !"}, 1},
            {153, {}, false, {"The command is not supported Mode !"}, 0},
            {153, QByteArray("Busy: measuring", 16), false, {"Busy: measuring"}, 0},
            {160, "x", true, {"ERROR_TIME_OUT OK"}, 1},
            {77, "x", true, {}, 1},
        };
        for (const auto& [code, answer, accepted, boxes, connected] : rows) {
            Connect();
            Answer(std::uint8_t(code), answer);
            CXferDataDialog dlg;
            const int result = Run(dlg, CXferDataDialog::kModeEqInfo, std::uint8_t(code));
            QCOMPARE(std::tuple(code, result, boxes_, dev_->IsConnected(), dlg.windowTitle()),
                     std::tuple(code, int(accepted), boxes, connected, "STR_XFER_LOAD_EQINFO"));
            if (code == 160) {  // answered with a request of its own
                QTRY_COMPARE(sim_->instrument().Requests().size(), std::size_t{2});
                QCOMPARE(sim_->instrument().Requests()[1].code, std::uint8_t{160});
            }
        }
    }

    // A name too long for the entry is refused; a list answer fills the entry table, "File list
    // not found!" empties it; a peer that hangs up mid-answer is an engine error.
    void listAndFileAnswers() {
        Connect();
        Answer(1, QByteArray(840, 'a'));
        const auto read = [this](int mode, std::uint8_t code, std::string name, int size) {
            CXferDataDialog dlg;
            dlg.m_strEntryName = dlg.m_strLoadName = std::move(name);
            dlg.m_nSize = size;
            return Run(dlg, mode, code) == QDialog::Accepted ? 1 : dlg.m_nResult;
        };
        QCOMPARE(read(CXferDataDialog::kModeReadFile, 1, std::string(200, 'n'), 840), 0);
        QCOMPARE(boxes_, QStringList{"STR_ERROR_PACKET"});
        QCOMPARE(dev_->ConnectTcp(), 1);
        QCOMPARE(read(CXferDataDialog::kModeReadFile, 1, "list.dat", 840), 1);
        QCOMPARE(dev_->EntryCount(), 10);
        Answer(152, {});
        QCOMPARE(read(CXferDataDialog::kModeLoadNamed, 152, "setup.sta", 0), 1);
        QCOMPARE(dev_->EntryCount(), 0);
        qv::sim::SimFaults hangUp;
        hangUp.closeAfterFrames = 1;
        sim_->instrument().SetFaults(hangUp);
        QCOMPARE(read(CXferDataDialog::kModeReadFile, qv::REQ_SCREEN, "currentdisp.jpg", 400000),
                 -1);
        QCOMPARE(boxes_,
                 (QStringList{"STR_ERROR_PACKET", "File list not found!", "STR_ERROR_TIMEOUT"}));
    }

    // Unknown modes cancel at once and disconnect; the connect mode connects, or says why not.
    void modesAndConnect() {
        Connect();
        for (const int mode : {0, 15}) {
            QVERIFY(dev_->ConnectTcp() == 1 || dev_->IsConnected());
            CXferDataDialog dlg;
            QCOMPARE(Run(dlg, mode), int(QDialog::Rejected));
            QCOMPARE(dev_->IsConnected(), 0);
        }
        QVERIFY(boxes_.isEmpty());
        CXferDataDialog connect;
        QCOMPARE(Run(connect, CXferDataDialog::kModeConnect), int(QDialog::Accepted));
        QCOMPARE(dev_->IsConnected(), 1);
        QCOMPARE(connect.windowTitle(), QStringLiteral("Connecting Port..."));
        dev_->Disconnect();
        sim_->Stop();
        CXferDataDialog fails;
        QCOMPARE(Run(fails, CXferDataDialog::kModeConnect), int(QDialog::Rejected));
        QCOMPARE(boxes_, (QStringList{"STR_XFER_CON_FAILED", "STR_DEVCOM_ERR_CHKCABLE"}));
    }
};

QTEST_MAIN(DialogsTest)
#include "tst_dialogs.moc"
