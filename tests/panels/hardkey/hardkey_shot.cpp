// Opens the hard-key panel against a simulated instrument on a free port, connects, starts
// remote control and saves the window in normal and in screen mode as PNG files.
// Usage: hardkey_shot [output folder]   (default: docs/ of the source tree)
#include <QApplication>
#include <QDir>
#include <QElapsedTimer>
#include <QSettings>
#include <QTemporaryDir>
#include <QTimer>
#include <cstdio>

#include "panels/CPanelSessionView.h"
#include "panels/CScreenView.h"
#include "panels/hardkey/CRemoteDlgRook.h"
#include "resources/ids.h"
#include "sim/SimServer.h"

namespace {

// Runs the event loop until done() or the time-out; false on time-out.
template <typename Done>
bool WaitFor(Done done, int timeoutMs) {
    QElapsedTimer clock;
    clock.start();
    while (!done()) {
        if (clock.elapsed() > timeoutMs) {
            return false;
        }
        QApplication::processEvents(QEventLoop::AllEvents, 20);
    }
    return true;
}

bool Shoot(CRemoteDlgRook& panel, const QString& path) {
    const int shown = panel.screen().framesShown();
    if (!WaitFor([&] { return panel.screen().framesShown() >= shown + 3; }, 10000)) {
        std::fprintf(stderr, "hardkey_shot: no frames for %s\n", qPrintable(path));
        return false;
    }
    if (!panel.grab().save(path)) {
        std::fprintf(stderr, "hardkey_shot: cannot write %s\n", qPrintable(path));
        return false;
    }
    std::printf("%s\n", qPrintable(path));
    return true;
}

}  // namespace

int main(int argc, char** argv) {
    QApplication app(argc, argv);
    QApplication::setApplicationName("QVRemote");
    const QString out =
        argc > 1 ? QString::fromLocal8Bit(argv[1]) : QStringLiteral(QV_SOURCE_DIR "/docs");
    QDir().mkpath(out);

    QTemporaryDir dir;
    qputenv("XDG_STATE_HOME", dir.filePath("state").toLocal8Bit());
    const QString ini = dir.filePath("settings.ini");
    {
        QSettings s(ini, QSettings::IniFormat);
        s.setValue("Connection/Method", 1);
        s.setValue("Connection/IP", "127.0.0.1");
    }
    qv::SettingsStore store(ini.toStdString());
    qv::sim::SimServer sim(800, 480);
    if (!sim.Start("127.0.0.1", 0)) {
        std::fprintf(stderr, "hardkey_shot: %s\n", sim.error().c_str());
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

    CRemoteDlgRook panel(store, nullptr, sim.port());
    panel.show();
    panel.Command(qv::ids::kCmdConnect);
    if (!WaitFor([&] { return panel.session().IsConnectedState(); }, 10000)) {
        std::fprintf(stderr, "hardkey_shot: no connection\n");
        return 1;
    }
    panel.Command(qv::ids::kCmdStart);
    bool ok = Shoot(panel, out + "/hardkey-normal.png");
    panel.Command(qv::ids::kCmdScreenMode);
    ok = Shoot(panel, out + "/hardkey-screen.png") && ok;
    panel.Command(qv::ids::kCmdScreenMode);  // leaves the stored mode as it was
    panel.Command(qv::ids::kCmdStop);
    panel.close();
    return ok ? 0 : 1;
}
