// qvremote: the remote controller program.
//
// Options for working against the simulator (the product itself needs none):
//   --settings FILE   use this settings file instead of the user's store
//   --port N          connect to port N instead of 66
//   --start           connect at once and start remote control
#include <QApplication>
#include <QCommandLineParser>
#include <QIcon>
#include <QTimer>
#include <cstdio>
#include <memory>

#include "panels/CBasicPanelDlg.h"
#include "resources/ids.h"
#include "session/SettingsStore.h"

int main(int argc, char** argv) {
    QApplication app(argc, argv);
    QApplication::setApplicationName(QStringLiteral("QVRemote"));
    QApplication::setOrganizationName(QStringLiteral("Orvane"));
    QApplication::setApplicationVersion(QStringLiteral("2.1"));

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

    std::uint16_t port = 0;
    if (parser.isSet(portOption)) {
        bool ok = false;
        const uint value = parser.value(portOption).toUInt(&ok);
        if (!ok || value == 0 || value > 65535) {
            std::fprintf(stderr, "qvremote: --port wants a number from 1 to 65535\n");
            return 2;
        }
        port = static_cast<std::uint16_t>(value);
    }
    auto store =
        parser.isSet(settingsOption)
            ? std::make_unique<qv::SettingsStore>(parser.value(settingsOption).toStdString())
            : std::make_unique<qv::SettingsStore>();

    CBasicPanelDlg panel(*store, qv::PanelTraits::SoftKey(), nullptr, port);
    panel.show();
    if (parser.isSet(startOption)) {
        QTimer::singleShot(0, &panel, [&panel] { panel.Command(qv::ids::kCmdConnect); });
        // Start once the connect has finished.
        auto* poll = new QTimer(&panel);
        QObject::connect(poll, &QTimer::timeout, &panel, [&panel, poll] {
            if (!panel.session().Connecting() && panel.session().IsConnectedState()) {
                panel.Command(qv::ids::kCmdStart);
                poll->stop();
            }
        });
        poll->start(100);
    }
    QObject::connect(&panel, &QDialog::finished, &app, &QApplication::quit);
    return QApplication::exec();
}
