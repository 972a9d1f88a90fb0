// panelshot: the pictures of the panels in docs/. Opens a panel against a simulated
// instrument on a free loopback port, starts remote control and saves the window once two
// fresh frames have been drawn after each change: the soft-key panel at 100, 85 and 70 % and
// in screen mode, or (--hardkey) the hard-key panel in normal and in screen mode.
//   panelshot [--hardkey] [FOLDER]      (FOLDER defaults to docs/ of the source tree)
#include <QApplication>
#include <QDialog>
#include <QDir>
#include <QSettings>
#include <QTemporaryDir>
#include <QTimer>
#include <cstdio>
#include <functional>
#include <memory>
#include <vector>

#include "panels/CScreenView.h"
#include "panels/hardkey/CRemoteDlgRook.h"
#include "panels/softkey/CRemoteDlgWren.h"
#include "resources/ids.h"
#include "sim/SimServer.h"

namespace {

namespace ids = qv::ids;

// Commands to run, then the picture to take.
struct Shot {
    std::vector<int> commands;
    const char* file;
};

const std::vector<Shot> kSoftKeyShots = {
    {{}, "softkey-100.png"},
    {{ids::kCmdScale85}, "softkey-85.png"},
    {{ids::kCmdScale70}, "softkey-70.png"},
    {{ids::kCmdScale100, ids::kCmdScreenMode}, "softkey-screen.png"},
    {{ids::kCmdScreenMode}, nullptr},  // the stored mode as it was
};
const std::vector<Shot> kHardKeyShots = {
    {{}, "hardkey-normal.png"},
    {{ids::kCmdScreenMode}, "hardkey-screen.png"},
    {{ids::kCmdScreenMode}, nullptr},
};

// Frames drawn after a change before the picture is taken: the first may have been asked
// for at the old size.
constexpr int kFramesPerShot = 2;
constexpr int kTimeLimitMs = 30000;

// Walks the shots as frames arrive; the event loop does the waiting.
class Photographer : public QObject {
  public:
    Photographer(CPanelDlg& panel, const std::vector<Shot>& shots, QString folder)
        : panel_(panel), shots_(shots), folder_(std::move(folder)) {
        connect(&panel_.session(), &qv::SessionController::stateChanged, this, [this] {
            if (!started_ && panel_.session().IsConnectedState()) {
                started_ = true;
                panel_.Command(ids::kCmdStart);
                Next();
            }
        });
        connect(&panel_.screen(), &CScreenView::frameShown, this, [this] {
            if (started_ && --framesToGo_ == 0) {
                Take();
            }
        });
    }

  private:
    void Next() {
        if (shot_ == shots_.size()) {
            panel_.Command(ids::kCmdStop);
            QApplication::exit(ok_ ? 0 : 1);
            return;
        }
        for (const int id : shots_[shot_].commands) {
            panel_.Command(id);
        }
        framesToGo_ = kFramesPerShot;
        if (shots_[shot_].file == nullptr) {
            ++shot_;
            Next();
        }
    }

    void Take() {
        const QString path = QDir(folder_).filePath(QString::fromLatin1(shots_[shot_].file));
        const bool saved = panel_.grab().save(path);
        std::printf("%s %s (%dx%d)\n", saved ? "wrote" : "FAILED", qPrintable(path), panel_.width(),
                    panel_.height());
        ok_ = ok_ && saved;
        ++shot_;
        Next();
    }

    CPanelDlg& panel_;
    const std::vector<Shot>& shots_;
    QString folder_;
    std::size_t shot_ = 0;
    int framesToGo_ = 0;
    bool started_ = false;
    bool ok_ = true;
};

}  // namespace

int main(int argc, char** argv) {
    QApplication app(argc, argv);
    QApplication::setApplicationName(QStringLiteral("QVRemote"));
    const QStringList args = QApplication::arguments().mid(1);
    const bool hardKey = args.contains(QStringLiteral("--hardkey"));
    QString folder = QStringLiteral(QV_SOURCE_DIR "/docs");
    for (const QString& arg : args) {
        if (!arg.startsWith(QLatin1Char('-'))) {
            folder = arg;
        }
    }
    QTemporaryDir dir;
    if (!dir.isValid() || !QDir().mkpath(folder)) {
        std::fprintf(stderr, "panelshot: no working folder\n");
        return 1;
    }
    // A log and settings of its own: the user's are not touched.
    qputenv("XDG_STATE_HOME", dir.filePath(QStringLiteral("state")).toLocal8Bit());
    const QString ini = dir.filePath(QStringLiteral("settings.ini"));
    {
        QSettings s(ini, QSettings::IniFormat);
        s.setValue(QStringLiteral("Connection/Method"), 1);
        s.setValue(QStringLiteral("Connection/IP"), QStringLiteral("127.0.0.1"));
    }
    qv::SettingsStore store(ini.toStdString());
    qv::sim::SimServer sim(800, hardKey ? 480 : 600);
    if (!sim.Start("127.0.0.1", 0)) {
        std::fprintf(stderr, "panelshot: %s\n", sim.error().c_str());
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
    QTimer::singleShot(kTimeLimitMs, &app, [] {
        std::fprintf(stderr, "panelshot: no connection or no frames\n");
        QApplication::exit(1);
    });

    std::unique_ptr<CPanelDlg> panel;
    if (hardKey) {
        panel = std::make_unique<CRemoteDlgRook>(store, nullptr, sim.port());
    } else {
        panel = std::make_unique<CRemoteDlgWren>(store, nullptr, sim.port());
    }
    Photographer photographer(*panel, hardKey ? kHardKeyShots : kSoftKeyShots, folder);
    panel->show();
    panel->Command(ids::kCmdConnect);
    const int status = QApplication::exec();
    panel->close();
    return status;
}
