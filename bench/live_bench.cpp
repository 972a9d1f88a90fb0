// The soft-key panel (800x600 screen at 100 %) against qvsim in a process of its own, over
// loopback. Prints, asserting nothing:
//   - key to visible at each live rate: from SendKey to the first painted frame that carries
//     the key (the simulator stamps its command count into every frame; the picture painted is
//     read back), keys one at a time at random moments, and a burst of keys 150 ms apart;
//   - the Fast rate: frames painted per second and this program's CPU time per frame (the
//     simulator runs elsewhere, so none of its time is counted);
//   - Save screen and Copy screen: time per call.
//   live_bench [--keys N] [--burst N] [--seconds N] [--qvsim PATH]
#include <sys/resource.h>

#include <QApplication>
#include <QEvent>
#include <QProcess>
#include <QSettings>
#include <QTemporaryDir>
#include <QTimer>
#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <random>
#include <string>
#include <vector>

#include "bench/BenchStats.h"
#include "bench/QvsimProcess.h"
#include "panels/CPanelSessionView.h"
#include "panels/CScreenView.h"
#include "panels/ScreenCapture.h"
#include "panels/softkey/CRemoteDlgWren.h"
#include "resources/ids.h"
#include "session/LivePacing.h"
#include "sim/SimScreen.h"

namespace {

using namespace std::chrono_literals;
using qv::bench::Clock;
using qv::bench::Ms;
using qv::bench::Percentile;
namespace ids = qv::ids;

double CpuSeconds() {
    rusage u{};
    ::getrusage(RUSAGE_SELF, &u);
    return static_cast<double>(u.ru_utime.tv_sec + u.ru_stime.tv_sec) +
           static_cast<double>(u.ru_utime.tv_usec + u.ru_stime.tv_usec) / 1e6;
}

// Runs the event loop (sleeping while nothing happens) for a while.
void Pump(std::chrono::milliseconds time) {
    QEventLoop loop;
    QTimer::singleShot(time, &loop, &QEventLoop::quit);
    loop.exec();
}

// Runs the event loop until done holds, looking after every event batch and every 5 ms.
bool PumpUntil(const std::function<bool()>& done, std::chrono::milliseconds timeout) {
    const auto until = Clock::now() + timeout;
    while (!done()) {
        if (Clock::now() >= until) {
            return false;
        }
        QApplication::processEvents(QEventLoop::WaitForMoreEvents, 5);
    }
    return true;
}

// Watches the screen picture's paints: when each happened and the command count its frame
// carries.
class PaintWatch : public QObject {
  public:
    explicit PaintWatch(CScreenView& view) : view_(view) { view.installEventFilter(this); }

    int lastStamp = -1;
    Clock::time_point lastPaint;
    int paints = 0;
    // Ends the event loop the bench waits in when a paint comes.
    QEventLoop* waiting = nullptr;

  protected:
    bool eventFilter(QObject* watched, QEvent* event) override {
        if (watched == &view_ && event->type() == QEvent::Paint && !view_.frame().isNull()) {
            lastPaint = Clock::now();
            ++paints;
            lastStamp = qv::sim::SimScreen::ReadCommandStamp(view_.frame(), 800, 600).value_or(-1);
            if (waiting != nullptr) {
                waiting->quit();
            }
        }
        return false;
    }

  private:
    CScreenView& view_;
};

struct Rig {
    CRemoteDlgWren* panel = nullptr;
    PaintWatch* watch = nullptr;
    int commands = 0;  // sent through the panel since the connect
};

const char* RateName(int rate) {
    static const char* const kNames[] = {"Normal", "Responsive", "Fast"};
    return kNames[rate];
}

// One key: from SendKey until a painted frame carries it. Negative when it never showed.
double KeyToVisible(Rig& rig, int i) {
    const int expected = (rig.commands + 1) & 0xFFFF;
    const auto sent = Clock::now();
    rig.panel->SendKey(i % 2 == 0 ? "KEYP:RIGH" : "KEYP:LEFT");
    ++rig.commands;
    const auto shown = [&] {
        return rig.watch->lastStamp == expected && rig.watch->lastPaint >= sent;
    };
    const auto until = sent + 5s;
    while (!shown() && Clock::now() < until) {
        QEventLoop loop;
        rig.watch->waiting = &loop;
        QTimer::singleShot(std::chrono::ceil<std::chrono::milliseconds>(until - Clock::now()),
                           &loop, &QEventLoop::quit);
        loop.exec();
        rig.watch->waiting = nullptr;
    }
    return shown() ? Ms(rig.watch->lastPaint - sent) : -1.0;
}

void Row(const char* what, const std::vector<double>& v, int lost) {
    std::printf("  %-24s p50 %7.1f ms   p99 %7.1f ms   max %7.1f ms   (%zu keys%s)\n", what,
                Percentile(v, 50), Percentile(v, 99), v.empty() ? 0.0 : Percentile(v, 100),
                v.size(), lost > 0 ? (", " + std::to_string(lost) + " never shown").c_str() : "");
}

// Keys one at a time, each at a random moment `pause` after the last one showed.
std::vector<double> SingleKeys(Rig& rig, int keys, std::uniform_int_distribution<int> pause,
                               std::mt19937& random, int& lost) {
    std::vector<double> out;
    for (int i = 0; i < keys; ++i) {
        Pump(std::chrono::milliseconds(pause(random)));
        const double ms = KeyToVisible(rig, i);
        if (ms < 0) {
            ++lost;
        } else {
            out.push_back(ms);
        }
    }
    return out;
}

void KeysAtEachRate(Rig& rig, int keys, int burst) {
    std::mt19937 random(20261207);
    std::printf("key to visible: SendKey to the first painted frame carrying the key\n");
    std::printf("  keys one at a time at random moments, 0.8-1.8 s after the last one showed\n");
    std::printf("  (a person reading each result), then 0.3-0.8 s after, then a burst of keys\n");
    std::printf("  150 ms apart\n");
    for (int rate = 0; rate < qv::kLiveRateCount; ++rate) {
        rig.panel->Command(ids::kCmdLiveNormal + rate);
        Pump(1200ms);
        const int earlyBefore = rig.panel->session().EarlyExchanges();
        int lost = 0;
        // Spans of whole cycles (501 ms): the keys fall on every part of a cycle alike.
        const auto single =
            SingleKeys(rig, keys, std::uniform_int_distribution<int>(800, 1802), random, lost);
        const int early = rig.panel->session().EarlyExchanges() - earlyBefore;
        std::printf("%s (%d early exchanges for %d keys)\n", RateName(rate), early, keys);
        Row("keys 0.8-1.8 s apart", single, lost);
        int quickLost = 0;
        const auto quick = SingleKeys(rig, keys / 2, std::uniform_int_distribution<int>(300, 801),
                                      random, quickLost);
        Row("keys 0.3-0.8 s apart", quick, quickLost);

        // A burst: each key's time to the first frame carrying it (or a later key).
        std::vector<double> inBurst;
        int burstLost = 0;
        Pump(1200ms);
        std::vector<std::pair<int, Clock::time_point>> sent;
        auto next = Clock::now();
        std::size_t seen = 0;
        const auto done = Clock::now() + std::chrono::milliseconds(150 * burst) + 3s;
        while (Clock::now() < done &&
               (sent.size() < static_cast<std::size_t>(burst) || seen < sent.size())) {
            if (sent.size() < static_cast<std::size_t>(burst) && Clock::now() >= next) {
                rig.panel->SendKey(sent.size() % 2 == 0 ? "KEYP:RIGH" : "KEYP:LEFT");
                ++rig.commands;
                sent.emplace_back(rig.commands & 0xFFFF, Clock::now());
                next += 150ms;
            }
            const int paintsBefore = rig.watch->paints;
            {
                // Until the next paint or the next key, whichever comes first.
                QEventLoop loop;
                rig.watch->waiting = &loop;
                const auto wake = sent.size() < static_cast<std::size_t>(burst)
                                      ? std::max(next, Clock::now())
                                      : Clock::now() + 50ms;
                QTimer::singleShot(
                    std::chrono::ceil<std::chrono::milliseconds>(wake - Clock::now()), &loop,
                    &QEventLoop::quit);
                loop.exec();
                rig.watch->waiting = nullptr;
            }
            if (rig.watch->paints != paintsBefore) {
                while (seen < sent.size() && rig.watch->lastStamp >= sent[seen].first &&
                       rig.watch->lastPaint >= sent[seen].second) {
                    inBurst.push_back(Ms(rig.watch->lastPaint - sent[seen].second));
                    ++seen;
                }
            }
        }
        burstLost = static_cast<int>(sent.size() - seen);
        Row("burst, 150 ms apart", inBurst, burstLost);
        std::fflush(stdout);
    }
}

void FastRate(Rig& rig, int seconds) {
    rig.panel->Command(ids::kCmdLiveFast);
    Pump(1500ms);
    const int paints0 = rig.watch->paints;
    const int shown0 = rig.panel->panelSession().screen().framesShown();
    const double cpu0 = CpuSeconds();
    const auto t0 = Clock::now();
    Pump(std::chrono::seconds(seconds));
    const double wall = Ms(Clock::now() - t0) / 1000.0;
    const double cpu = CpuSeconds() - cpu0;
    const int frames = rig.panel->panelSession().screen().framesShown() - shown0;
    const auto jpeg = rig.panel->panelSession().capture().LastFrame();
    std::printf("Fast rate, %d s, 800x600 frames of about %zu bytes\n", seconds,
                jpeg ? jpeg->size() : std::size_t{0});
    std::printf(
        "  %.1f frames/s drawn (%d paints), client CPU %.2f ms per frame (%.0f %% of one"
        " core); the 40 ms floor allows 25/s\n",
        frames / wall, rig.watch->paints - paints0, frames > 0 ? cpu * 1000.0 / frames : 0,
        100.0 * cpu / wall);
    rig.panel->Command(ids::kCmdLiveNormal);
    Pump(1000ms);
    const int normalShown = rig.panel->panelSession().screen().framesShown();
    const double normalCpu = CpuSeconds();
    const auto n0 = Clock::now();
    Pump(5s);
    const int normalFrames = rig.panel->panelSession().screen().framesShown() - normalShown;
    std::printf("  Normal beside it: %.1f frames/s, client CPU %.2f ms per frame\n",
                normalFrames / (Ms(Clock::now() - n0) / 1000.0),
                normalFrames > 0 ? (CpuSeconds() - normalCpu) * 1000.0 / normalFrames : 0);
    std::fflush(stdout);
}

void SaveAndCopy(Rig& rig, const QString& pictures) {
    ScreenCapture& capture = rig.panel->panelSession().capture();
    std::vector<double> save;
    std::vector<double> copy;
    for (int i = 0; i < 200; ++i) {
        auto t0 = Clock::now();
        rig.panel->Command(ids::kCmdSaveScreen);
        save.push_back(Ms(Clock::now() - t0));
        t0 = Clock::now();
        rig.panel->Command(ids::kCmdCopyScreen);
        copy.push_back(Ms(Clock::now() - t0));
        QApplication::processEvents();
    }
    const auto frame = capture.LastFrame();
    std::printf("Save screen and Copy screen, 200 each, frame of %zu bytes, into %s\n",
                frame ? frame->size() : std::size_t{0}, qPrintable(pictures));
    std::printf("  %-24s p50 %7.3f ms   p99 %7.3f ms\n", "save (Ctrl+S)", Percentile(save, 50),
                Percentile(save, 99));
    std::printf("  %-24s p50 %7.3f ms   p99 %7.3f ms\n", "copy (Ctrl+C)", Percentile(copy, 50),
                Percentile(copy, 99));
}

}  // namespace

int main(int argc, char** argv) {
    if (qEnvironmentVariableIsEmpty("QT_QPA_PLATFORM")) {
        qputenv("QT_QPA_PLATFORM", "offscreen");
    }
    QTemporaryDir dir;
    qputenv("XDG_STATE_HOME", QFile::encodeName(dir.filePath(QStringLiteral("state"))));
    const QString pictures = dir.filePath(QStringLiteral("pictures"));
    qputenv("XDG_PICTURES_DIR", QFile::encodeName(pictures));
    QApplication app(argc, argv);
    QApplication::setApplicationName(QStringLiteral("QVRemote"));

    int keys = 200;
    int burst = 40;
    int seconds = 10;
    QString qvsimPath;
    for (int i = 1; i + 1 < argc; i += 2) {
        if (std::strcmp(argv[i], "--keys") == 0) {
            keys = std::atoi(argv[i + 1]);
        } else if (std::strcmp(argv[i], "--burst") == 0) {
            burst = std::atoi(argv[i + 1]);
        } else if (std::strcmp(argv[i], "--seconds") == 0) {
            seconds = std::atoi(argv[i + 1]);
        } else if (std::strcmp(argv[i], "--qvsim") == 0) {
            qvsimPath = QString::fromLocal8Bit(argv[i + 1]);
        }
    }

    QProcess sim;
    const quint16 port = qv::bench::StartQvsim(sim, qvsimPath, {}, "live_bench");
    if (port == 0) {
        return 1;
    }
    // The simulator prints every command; nobody needs it.
    QObject::connect(&sim, &QProcess::readyReadStandardOutput,
                     [&] { sim.readAllStandardOutput(); });

    const QString ini = dir.filePath(QStringLiteral("settings.ini"));
    {
        QSettings s(ini, QSettings::IniFormat);
        s.setValue("Connection/Method", 1);
        s.setValue("Connection/IP", "127.0.0.1");
    }
    qv::SettingsStore store(ini.toStdString());
    Rig rig;
    rig.panel = new CRemoteDlgWren(store, nullptr, port);
    rig.panel->show();
    rig.watch = new PaintWatch(rig.panel->panelSession().screen());
    rig.panel->Command(ids::kCmdConnect);
    if (!PumpUntil([&] { return rig.panel->session().IsConnectedState(); }, 20s)) {
        std::fprintf(stderr, "live_bench: cannot connect to qvsim on port %u\n", port);
        return 1;
    }
    rig.panel->Command(ids::kCmdStart);
    PumpUntil([&] { return rig.watch->lastStamp >= 0; }, 5s);
    rig.commands = rig.watch->lastStamp;

    KeysAtEachRate(rig, keys, burst);
    FastRate(rig, seconds);
    SaveAndCopy(rig, pictures);

    rig.panel->Command(ids::kCmdStop);
    delete rig.panel;
    sim.terminate();
    sim.waitForFinished(3000);
    return 0;
}
