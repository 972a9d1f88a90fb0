// qvremote: the remote controller program.
//
// Options for working against the simulator (the product itself needs none):
//   --settings FILE   use this settings file instead of the user's store
//   --port N          connect to port N instead of 66
//   --start           connect at once and start remote control
#include <QCommandLineParser>
#include <cstdio>

#include "app/CRemoteApp.h"
#include "link/LinkPlatform.h"
#include "platform/LibUsbBackend.h"
#include "platform/SystemVersion.h"

int main(int argc, char** argv) {
    // The system services the link needs; they outlive the application and its panels.
    qv::LibUsbBackend usb;
    qv::InstallLinkPlatform({&usb, &qv::QueryVersionEx, &qv::QueryVersion});
    CRemoteApp app(argc, argv);

    QCommandLineParser parser;
    parser.setApplicationDescription(QStringLiteral("Remote control for handheld RF analysers"));
    parser.addHelpOption();
    parser.addVersionOption();
    const QCommandLineOption settingsOption(QStringLiteral("settings"),
                                            QStringLiteral("Settings file to use."),
                                            QStringLiteral("file"));
    const QCommandLineOption portOption(QStringLiteral("port"),
                                        QStringLiteral("Instrument port (simulator)."),
                                        QStringLiteral("n"));
    const QCommandLineOption startOption(QStringLiteral("start"),
                                         QStringLiteral("Connect and start at once."));
    parser.addOptions({settingsOption, portOption, startOption});
    parser.process(app);

    CRemoteApp::Launch launch;
    if (parser.isSet(portOption)) {
        bool ok = false;
        const uint value = parser.value(portOption).toUInt(&ok);
        if (!ok || value == 0 || value > 65535) {
            std::fprintf(stderr, "qvremote: --port wants a number from 1 to 65535\n");
            return 2;
        }
        launch.port = static_cast<std::uint16_t>(value);
    }
    launch.settingsFile = parser.value(settingsOption).toStdString();
    launch.start = parser.isSet(startOption);
    app.CloseOnQuitSignals();
    app.InitInstance(launch);
    qv::InstallLinkPlatform({});
    return 0;
}
