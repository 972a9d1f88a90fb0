// The panel's link dialogs on a machine that never stored settings: what the user confirms in
// Communication and in the IP address dialog (command 32775) is what the window shows, what
// the next start finds and what the next Connect uses; Esc and the close box change nothing.
#include <QApplication>
#include <QLineEdit>
#include <QRadioButton>
#include <QTemporaryDir>
#include <QTimer>
#include <QtTest>

#include "dialogs/CDlgCommNew.h"
#include "dialogs/CDlgIP.h"
#include "dialogs/CIpAddressCtrl.h"
#include "panels/CPanelSessionView.h"
#include "panels/hardkey/CRemoteDlgRook.h"
#include "panels/softkey/CRemoteDlgWren.h"
#include "resources/ids.h"
#include "session/SettingsStore.h"
#include "sim/SimServer.h"

namespace ids = qv::ids;

class TestLinkDialogs : public QObject {
    Q_OBJECT
  private slots:
    void initTestCase();
    void communicationOnFirstUse();
    void ipAddressCommand_data();
    void ipAddressCommand();

  private:
    // Runs fn on the dialog of type T as soon as the panel's command has opened it.
    template <typename T>
    static void OnDialog(std::function<void(T&)> fn) {
        QTimer::singleShot(0, [fn] {
            auto* dlg = qobject_cast<T*>(QApplication::activeModalWidget());
            QVERIFY(dlg != nullptr);
            dlg->activateWindow();
            QVERIFY(QTest::qWaitForWindowActive(dlg));
            fn(*dlg);
        });
    }
    static void Type(const QString& text) {
        for (const QChar c : text) {
            QTest::keyClicks(QApplication::focusWidget(), QString(c));
        }
    }

    QTemporaryDir dir_;
};

void TestLinkDialogs::initTestCase() {
    QVERIFY(dir_.isValid());
    qputenv("XDG_STATE_HOME", dir_.filePath("state").toLocal8Bit());
}

void TestLinkDialogs::communicationOnFirstUse() {
    qv::sim::SimServer sim;
    QVERIFY(sim.Start("127.0.0.1", 0));
    const QString ini = dir_.filePath("first.ini");
    qv::SettingsStore store(ini.toStdString());
    QVERIFY(!store.KeyExists());
    CRemoteDlgWren panel(store, nullptr, sim.port());
    panel.show();
    QCOMPARE(panel.view().PaneText(3), QStringLiteral("USB"));
    OnDialog<CDlgCommNew>([this](CDlgCommNew& dlg) {
        dlg.findChild<QRadioButton*>(QStringLiteral("ctrl1104"))->click();
        auto* ipv4 = dlg.findChild<CIpAddressCtrl*>(QStringLiteral("ctrl1108"));
        ipv4->Field(0)->setFocus();
        QTest::keyClick(ipv4->Field(0), Qt::Key_A, Qt::ControlModifier);
        Type(QStringLiteral("127.0.0.1"));
        QTest::keyClick(QApplication::focusWidget(), Qt::Key_Return);
    });
    panel.Command(ids::kCmdCommunication);
    QCOMPARE(panel.view().PaneText(3), QStringLiteral("TCP/IP : 127.0.0.1"));
    QVERIFY(store.KeyExists());
    QCOMPARE(store.Load().method, 1);
    QCOMPARE(store.Load().ip, std::string("127.0.0.1"));
    // The next Connect uses it.
    panel.Command(ids::kCmdConnect);
    QTRY_COMPARE(panel.view().PaneText(1), QStringLiteral("Connected"));
    // The close box of the dialog changes nothing.
    OnDialog<CDlgCommNew>([](CDlgCommNew& dlg) {
        dlg.findChild<QRadioButton*>(QStringLiteral("ctrl1106"))->click();
        dlg.close();
    });
    panel.Command(ids::kCmdCommunication);
    QCOMPARE(panel.view().PaneText(3), QStringLiteral("TCP/IP : 127.0.0.1"));
    QCOMPARE(store.Load().method, 1);
}

void TestLinkDialogs::ipAddressCommand_data() {
    QTest::addColumn<bool>("softKey");
    QTest::addColumn<QString>("prefix");
    QTest::newRow("soft-key") << true << "TCP/IP : ";
    QTest::newRow("hard-key") << false << "IP : ";
}

void TestLinkDialogs::ipAddressCommand() {
    QFETCH(bool, softKey);
    QFETCH(QString, prefix);
    const QString ini = dir_.filePath(softKey ? "soft.ini" : "hard.ini");
    qv::SettingsStore store(ini.toStdString());
    store.StoreCommunication(1, "10.0.0.5", "::1");  // as the Communication dialog left it
    std::unique_ptr<CPanelDlg> panel;
    if (softKey) {
        panel = std::make_unique<CRemoteDlgWren>(store);
    } else {
        panel = std::make_unique<CRemoteDlgRook>(store);
    }
    CPanelSessionView* view = &panel->view();
    const auto command = [&](int id) { panel->Command(id); };
    // The dialog opens with the session's address; Esc leaves everything as it was.
    OnDialog<CDlgIP>([](CDlgIP& dlg) {
        auto* ctrl = dlg.findChild<CIpAddressCtrl*>();
        QCOMPARE(ctrl->Field(3)->text(), QStringLiteral("5"));
        QTest::keyClick(ctrl->Field(0), Qt::Key_Escape);
    });
    command(ids::kCmdIpAddress);
    QCOMPARE(view->PaneText(3), QStringLiteral("TCP/IP : 10.0.0.5"));
    // OK stores "IP" and shows it with the panel's prefix; the method stays.
    OnDialog<CDlgIP>([](CDlgIP& dlg) {
        auto* ctrl = dlg.findChild<CIpAddressCtrl*>();
        ctrl->Field(0)->setFocus();
        QTest::keyClick(ctrl->Field(0), Qt::Key_A, Qt::ControlModifier);
        Type(QStringLiteral("192.168.1.20"));
        QTest::keyClick(QApplication::focusWidget(), Qt::Key_Return);
    });
    command(ids::kCmdIpAddress);
    QCOMPARE(view->PaneText(3), prefix + QStringLiteral("192.168.1.20"));
    QCOMPARE(store.Load().ip, std::string("192.168.1.20"));
    QCOMPARE(store.Load().method, 1);
}

QTEST_MAIN(TestLinkDialogs)
#include "tst_link_dialogs.moc"
