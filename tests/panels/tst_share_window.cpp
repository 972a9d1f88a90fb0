// The browser share from the window: the menu item, the dialog with its links and QR codes,
// pane 0's viewer count, presses through the session's send path only while remote control
// runs, and every viewer ended by Disconnect and by closing the window. Both panels against
// the simulator; the viewer is a QWebSocket as the page's script would be.
#include <QComboBox>
#include <QElapsedTimer>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QRadioButton>
#include <QSignalSpy>

#include "dialogs/CShareDlg.h"
#include "panels/PanelSession.h"
#include "share/ShareSession.h"
#include "tests/panels/PanelRig.h"
#include "tests/share/ShareViewer.h"

namespace {

using qv::share::test::Viewer;

// Listening takes milliseconds; a loaded machine under a sanitizer gets far more.
constexpr int kOutcomeDeadline = 10000;

bool LabelWith(const QWidget& dlg, const char* text) {
    for (const QLabel* l : dlg.findChildren<QLabel*>()) {
        if (l->isVisibleTo(&dlg) && l->text().contains(QLatin1String(text))) {
            return true;
        }
    }
    return false;
}

}  // namespace

class TestShareWindow : public PanelTest {
    Q_OBJECT

  private slots:
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

    void shareFromTheWindow_data() { AddKinds(); }
    void shareFromTheWindow() {
        QFETCH(bool, soft);
        auto panel = Open(soft);

        QCOMPARE(ItemAfter(*panel, ids::kCmdAutoReconnect),
                 std::pair(QStringLiteral("Share in browser\u2026"), int(ids::kCmdShare)));
        Live(*panel);

        ShareChoice choice;
        choice.mode = ShareChoice::Control;
        choice.port = 0;  // any free port: tests run side by side
        QString error;
        QSignalSpy started(&panel->panelSession(), &PanelSession::shareStarted);
        QVERIFY2(panel->panelSession().ApplyShare(choice, error), qPrintable(error));
        // Nothing waited for: the pane and the links follow the share's word.
        QVERIFY(!Pane0(*panel).contains("share:"));
        QVERIFY(panel->panelSession().ShareLinkList().isEmpty());
        QVERIFY(started.wait(kOutcomeDeadline));
        QCOMPARE(started.at(0).at(1).toString(), QString());
        ShareLinks links = panel->panelSession().ShareLinkList();
        QCOMPARE(links.size(), 2);
        QCOMPARE(links[1].first, QStringLiteral("Control"));
        QVERIFY(links[1].second.startsWith("http://127.0.0.1:"));
        QTRY_VERIFY(Pane0(*panel).contains("share: 0 viewers"));

        const auto viewer = Viewer::Following(links[1].second);
        QTRY_VERIFY(Pane0(*panel).contains("share: 1 viewer"));
        // The frames the window shows, byte for byte as the instrument served them.
        QTRY_VERIFY_WITH_TIMEOUT(viewer->frames.size() >= 2, 10000);
        QVERIFY(ServedIndex(Bytes(viewer->frames[1].begin(), viewer->frames[1].end())) >= 0);
        // A press goes through the window's own send path (the marker follows it); stopped, the
        // page is told and a press is refused, nothing reaching the instrument.
        const QString marker = QStringLiteral(R"({"t":"key","id":%1})").arg(soft ? 1027 : 1079);
        viewer->Send(marker);
        QTRY_VERIFY(LogText().contains(
            QStringLiteral("Share 127.0.0.1:%1: KEYP:MARK").arg(viewer->ws.localPort()).toUtf8()));
        QCOMPARE(Sent(*panel), QStringList{"KEYP:MARK"});
        panel->Command(ids::kCmdStop);
        QTRY_VERIFY(!viewer->texts.empty() &&
                    !viewer->texts.back().value("streaming").toBool(true));
        viewer->Send(marker);
        QTRY_COMPARE(viewer->Why("refused"), QStringLiteral("remote control is not running"));
        QCOMPARE(Sent(*panel), QStringList{});

        // Disconnect ends every viewer at once.
        QElapsedTimer t;
        t.start();
        panel->Command(ids::kCmdDisconnect);
        QTRY_VERIFY_WITH_TIMEOUT(viewer->closed, 2000);
        QVERIFY(t.elapsed() < 2000);
        QVERIFY(!Pane0(*panel).contains("share:"));

        // Stopped before it listens: its word, delivered late, changes nothing.
        started.clear();
        QVERIFY(panel->panelSession().ApplyShare(choice, error));
        panel->panelSession().StopShare();
        QCoreApplication::sendPostedEvents();
        QCoreApplication::processEvents();
        QCOMPARE(started.count(), 0);
        QVERIFY(!Pane0(*panel).contains("share:"));
        QVERIFY(panel->panelSession().ShareLinkList().isEmpty());

        // And so does closing the window.
        QVERIFY(panel->panelSession().ApplyShare(choice, error));
        QVERIFY(started.wait(kOutcomeDeadline));
        links = panel->panelSession().ShareLinkList();
        const auto second = Viewer::Following(links[0].second);
        QTRY_VERIFY(Pane0(*panel).contains("share: 1 viewer"));
        t.restart();
        panel->close();
        panel.reset();
        QTRY_VERIFY_WITH_TIMEOUT(second->closed, 2000);
        QVERIFY(t.elapsed() < 2000);
    }
};

int main(int argc, char** argv) {
    QApplication app(argc, argv);
    TestShareWindow test;
    return QTest::qExec(&test, argc, argv);
}
#include "tst_share_window.moc"
