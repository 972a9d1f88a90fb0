// qvremote: the remote controller program.
//
// Options for working against the simulator (the product itself needs none):
//   --settings FILE   use this settings file instead of the user's store
//   --port N          connect to port N instead of 66
//   --start           connect at once and start remote control
#include <QCommandLineParser>
#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <cstring>

#include "QvVersion.h"
#include "app/CRemoteApp.h"
#include "link/LinkPlatform.h"
#include "platform/LibUsbBackend.h"

namespace {

constexpr int kExitNoDisplay = 1;
constexpr int kExitUsage = 2;

constexpr const char* kHelp =
    "usage: qvremote [--settings FILE] [--port N] [--start]\n"
    "\n"
    "Remote front panel for handheld RF analysers: asks for the instrument line, then shows\n"
    "its front panel with the live screen. Connect, Start and the link method are in the\n"
    "panel's right-click menu.\n"
    "\n"
    "  --settings FILE  use FILE for the settings instead of\n"
    "                   ~/.config/Orvane/QVRemote.conf\n"
    "  --port N         connect to port N instead of the instrument's port 66\n"
    "                   (a simulator run as an ordinary user)\n"
    "  --start          connect by the stored link and start remote control at once\n"
    "  -h, --help       show this help\n"
    "  -v, --version    show the version\n"
    "\n"
    "Exit status: 0 the window was closed, 1 no display to show it on, 2 bad arguments.\n"
    "USB instruments: qvctl usb tells whether you may open them. See qvremote(1).\n";

// Qt's own options, taken up by the application object; a value, if any, follows.
bool IsQtOption(const QString& name) {
    static const QStringList names = {
        QStringLiteral("platform"),      QStringLiteral("platformpluginpath"),
        QStringLiteral("platformtheme"), QStringLiteral("plugin"),
        QStringLiteral("qmljsdebugger"), QStringLiteral("qwindowgeometry"),
        QStringLiteral("geometry"),      QStringLiteral("qwindowicon"),
        QStringLiteral("icon"),          QStringLiteral("qwindowtitle"),
        QStringLiteral("title"),         QStringLiteral("reverse"),
        QStringLiteral("session"),       QStringLiteral("display"),
        QStringLiteral("name"),          QStringLiteral("style"),
        QStringLiteral("stylesheet"),    QStringLiteral("widgetcount"),
        QStringLiteral("nograb"),        QStringLiteral("dograb"),
        QStringLiteral("visual"),        QStringLiteral("ncols"),
        QStringLiteral("cmap"),          QStringLiteral("sync")};
    return names.contains(name);
}

struct Options {
    QCommandLineParser parser;
    QCommandLineOption help{{QStringLiteral("h"), QStringLiteral("help")}};
    QCommandLineOption version{{QStringLiteral("v"), QStringLiteral("version")}};
    QCommandLineOption settings{QStringLiteral("settings"), QString(), QStringLiteral("file")};
    QCommandLineOption port{QStringLiteral("port"), QString(), QStringLiteral("n")};
    QCommandLineOption start{QStringLiteral("start")};

    Options() {
        // "-platform" is one option, as Qt reads it, not seven letters.
        parser.setSingleDashWordOptionMode(QCommandLineParser::ParseAsLongOptions);
        parser.addOptions({help, version, settings, port, start});
    }

    // Reads the command line into launch; false with a message in error. Before the
    // application object has taken Qt's options out, those (and their values) are let pass.
    bool Read(const QStringList& args, bool qtOptionsLeft, CRemoteApp::Launch& launch,
              QString& error) {
        if (!parser.parse(args)) {
            const QStringList unknown = parser.unknownOptionNames();
            const bool onlyQt = qtOptionsLeft && !unknown.isEmpty() &&
                                std::all_of(unknown.begin(), unknown.end(),
                                            [](const QString& name) { return IsQtOption(name); });
            if (!onlyQt) {
                const auto ours = std::find_if(unknown.begin(), unknown.end(),
                                               [](const QString& n) { return !IsQtOption(n); });
                error = ours == unknown.end() ? parser.errorText()
                                              : QStringLiteral("unknown option \"%1\"").arg(*ours);
                return false;
            }
        } else if (!qtOptionsLeft && !parser.positionalArguments().isEmpty()) {
            error = QStringLiteral("unexpected argument \"%1\"")
                        .arg(parser.positionalArguments().first());
            return false;
        }
        if (parser.isSet(port)) {
            bool ok = false;
            const uint value = parser.value(port).toUInt(&ok);
            if (!ok || value == 0 || value > 65535) {
                error = QStringLiteral("--port wants a number from 1 to 65535");
                return false;
            }
            launch.port = static_cast<std::uint16_t>(value);
        }
        launch.settingsFile = parser.value(settings).toStdString();
        launch.start = parser.isSet(start);
        return true;
    }
};

int UsageError(const QString& error) {
    std::fprintf(stderr, "qvremote: %s\nTry 'qvremote --help'.\n", qPrintable(error));
    return kExitUsage;
}

bool IsSet(const char* name) {
    const char* value = std::getenv(name);  // NOLINT(concurrency-mt-unsafe): before any thread
    return value != nullptr && *value != '\0';
}

// Qt ends the program with an abort when no platform can be opened; say it plainly where
// that is certain: no X or Wayland display and no platform chosen.
bool DisplayMissing(int argc, char** argv) {
    if (IsSet("DISPLAY") || IsSet("WAYLAND_DISPLAY") || IsSet("QT_QPA_PLATFORM")) {
        return false;
    }
    for (int i = 1; i < argc; ++i) {
        if (std::strcmp(argv[i], "-platform") == 0 || std::strcmp(argv[i], "--platform") == 0) {
            return false;
        }
    }
    return true;
}

}  // namespace

int main(int argc, char** argv) {
    // Help, version and bad arguments are answered before the application object exists:
    // that opens the display, which a terminal or a package check may not have.
    CRemoteApp::Launch launch;
    {
        QStringList args;
        for (int i = 0; i < argc; ++i) {
            args << QString::fromLocal8Bit(argv[i]);
        }
        Options early;
        QString error;
        const bool ok = early.Read(args, true, launch, error);
        if (early.parser.isSet(early.help)) {
            std::fputs(kHelp, stdout);
            return 0;
        }
        if (early.parser.isSet(early.version)) {
            std::printf("qvremote %s\n", qv::kVersion);
            return 0;
        }
        if (!ok) {
            return UsageError(error);
        }
    }
    if (DisplayMissing(argc, argv)) {
        std::fprintf(stderr,
                     "qvremote: no display: neither DISPLAY nor WAYLAND_DISPLAY is set (log in "
                     "to a desktop, or use ssh -X)\n");
        return kExitNoDisplay;
    }

    // The system services the link needs; they outlive the application and its panels.
    qv::LibUsbBackend usb;
    qv::InstallLinkPlatform({&usb});
    CRemoteApp app(argc, argv);
    Options options;
    QString error;
    if (!options.Read(app.arguments(), false, launch, error)) {
        return UsageError(error);
    }
    app.CloseOnQuitSignals();
    app.InitInstance(launch);
    qv::InstallLinkPlatform({});
    return 0;
}
