// Pictures of the soft-key panel for a look by eye: opens the panel against a simulated
// instrument on a free port, streams, and grabs the window at 100, 85 and 70 % and in
// screen mode. Writes docs/softkey-100.png, -85, -70 and -screen.
#include <QApplication>
#include <QDialog>
#include <QDir>
#include <QElapsedTimer>
#include <QSettings>
#include <QTemporaryDir>
#include <QTimer>
#include <cstdio>

#include "panels/CPanelSessionView.h"
#include "panels/CScreenView.h"
#include "panels/softkey/CRemoteDlgWren.h"
#include "resources/ids.h"
#include "sim/SimServer.h"

namespace {

// Turns the event loop until done() or the time is up.
bool WaitFor(const std::function<bool()>& done, int ms) {
    QElapsedTimer clock;
    clock.start();
    while (!done() && clock.elapsed() < ms) {
        QApplication::processEvents(QEventLoop::AllEvents, 20);
    }
    return done();
}

// Waits for a fresh frame, then a little more so the picture has settled.
void NextFrame(CRemoteDlgWren& panel) {
    const int seen = panel.panel().screen().framesShown();
    WaitFor([&] { return panel.panel().screen().framesShown() > seen; }, 5000);
    WaitFor([] { return false; }, 100);
}

bool Save(CRemoteDlgWren& panel, const QString& name) {
    const QString path = QDir(QStringLiteral(QV_DOCS_DIR)).filePath(name);
    const bool ok = panel.grab().save(path);
    std::printf("%s %s (%dx%d)\n", ok ? "wrote" : "FAILED", qPrintable(path), panel.width(),
                panel.height());
    return ok;
}

}  // namespace

int main(int argc, char** argv) {
    QApplication app(argc, argv);
    QApplication::setApplicationName(QStringLiteral("QVRemote"));
    QTemporaryDir dir;
    if (!dir.isValid() || !QDir().mkpath(QStringLiteral(QV_DOCS_DIR))) {
        std::fprintf(stderr, "no working folder\n");
        return 1;
    }
    qputenv("XDG_STATE_HOME", dir.filePath(QStringLiteral("state")).toLocal8Bit());
    const QString ini = dir.filePath(QStringLiteral("settings.ini"));
    {
        QSettings s(ini, QSettings::IniFormat);
        s.setValue(QStringLiteral("Connection/Method"), 1);
        s.setValue(QStringLiteral("Connection/IP"), QStringLiteral("127.0.0.1"));
    }
    qv::SettingsStore store(ini.toStdString());
    qv::sim::SimServer sim;
    if (!sim.Start("127.0.0.1", 0)) {
        std::fprintf(stderr, "simulator: %s\n", sim.error().c_str());
        return 1;
    }

    // The "Connected" box would wait for a click.
    QTimer dismisser;
    QObject::connect(&dismisser, &QTimer::timeout, [] {
        if (auto* d = qobject_cast<QDialog*>(QApplication::activeModalWidget())) {
            d->done(QDialog::Accepted);
        }
    });
    dismisser.start(20);

    CRemoteDlgWren panel(store, nullptr, sim.port());
    panel.show();
    panel.Command(qv::ids::kCmdConnect);
    if (!WaitFor([&] { return panel.session().IsConnectedState(); }, 5000)) {
        std::fprintf(stderr, "no connection\n");
        return 1;
    }
    panel.Command(qv::ids::kCmdStart);

    bool ok = true;
    NextFrame(panel);
    ok = Save(panel, QStringLiteral("softkey-100.png")) && ok;
    panel.Command(qv::ids::kCmdScale85);
    NextFrame(panel);
    ok = Save(panel, QStringLiteral("softkey-85.png")) && ok;
    panel.Command(qv::ids::kCmdScale70);
    NextFrame(panel);
    ok = Save(panel, QStringLiteral("softkey-70.png")) && ok;
    panel.Command(qv::ids::kCmdScale100);
    panel.Command(qv::ids::kCmdScreenMode);
    NextFrame(panel);
    ok = Save(panel, QStringLiteral("softkey-screen.png")) && ok;
    panel.Command(qv::ids::kCmdScreenMode);

    panel.Command(qv::ids::kCmdStop);
    panel.close();
    return ok ? 0 : 1;
}
