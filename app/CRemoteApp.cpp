#include "app/CRemoteApp.h"

#include <fcntl.h>
#include <sys/socket.h>
#include <unistd.h>

#include <QAction>
#include <QDialog>
#include <QMenu>
#include <QMessageBox>
#include <QScreen>
#include <QSocketNotifier>
#include <QTimer>
#include <csignal>

#include "QvVersion.h"
#include "dialogs/CDlgModel.h"
#include "panels/hardkey/CRemoteDlgRook.h"
#include "panels/softkey/CRemoteDlgWren.h"
#include "platform/SystemVersion.h"
#include "resources/ids.h"
#include "session/SettingsStore.h"
#include "widgets/CRemoteDlg.h"
#include "widgets/SkinLibrary.h"

namespace {

// Runs a menu command of the panel the way the menu would: through its action.
bool TriggerMenuCommand(CRemoteDlg& panel, int id) {
    for (QAction* action : panel.findChildren<QAction*>()) {
        if (action->data().toInt() == id && !action->menu()) {
            if (!action->isEnabled()) {
                return false;
            }
            action->trigger();
            return true;
        }
    }
    return false;
}

int gSignalPipe[2] = {-1, -1};

void OnQuitSignal(int) {
    const char byte = 1;
    // Nothing else is safe in a handler; a full pipe already carries a pending quit.
    [[maybe_unused]] const ssize_t n = ::write(gSignalPipe[1], &byte, 1);
}

}  // namespace

void CRemoteApp::CloseOnQuitSignals() {
    if (gSignalPipe[0] >= 0 ||
        ::socketpair(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC | SOCK_NONBLOCK, 0, gSignalPipe) != 0) {
        return;
    }
    auto* notifier = new QSocketNotifier(gSignalPipe[0], QSocketNotifier::Read, this);
    connect(notifier, &QSocketNotifier::activated, this, [this] {
        char buffer[16];
        while (::read(gSignalPipe[0], buffer, sizeof buffer) > 0) {
        }
        CloseAll();
    });
    struct sigaction action {};
    action.sa_handler = OnQuitSignal;
    sigemptyset(&action.sa_mask);
    action.sa_flags = SA_RESTART;
    for (const int sig : {SIGTERM, SIGINT, SIGHUP}) {
        sigaction(sig, &action, nullptr);
    }
}

void CRemoteApp::CloseAll() {
    // Modal boxes first (innermost last opened), then the windows beneath them.
    while (QWidget* modal = QApplication::activeModalWidget()) {
        if (auto* dialog = qobject_cast<QDialog*>(modal)) {
            dialog->reject();
        } else {
            modal->close();
        }
        if (QApplication::activeModalWidget() == modal) {
            break;
        }
    }
    quitting_ = true;
    QApplication::closeAllWindows();
}

CRemoteApp::CRemoteApp(int& argc, char** argv) : QApplication(argc, argv) {
    setApplicationName(QStringLiteral("QVRemote"));
    setOrganizationName(QStringLiteral("Orvane"));
    setApplicationVersion(QString::fromLatin1(qv::kVersion));
    setDesktopFileName(QStringLiteral("qvremote"));
    setWindowIcon(qv::AppIcon());

    systemClass = [] { return qv::SystemClass(); };
    screenDpi = [] {
        const QScreen* screen = QApplication::primaryScreen();
        if (!screen) {
            return QSize(96, 96);
        }
        return QSize(qRound(screen->logicalDotsPerInchX()), qRound(screen->logicalDotsPerInchY()));
    };
    startNetwork = [] { return qv::StartNetwork(); };
    message = [](const QString& text) {
        QMessageBox box(QMessageBox::NoIcon, QApplication::applicationName(), text,
                        QMessageBox::Ok);
        box.exec();
    };
    runModelDialog = [](CDlgModel& dlg) { return dlg.exec(); };
    makePanel = &CRemoteApp::MakePanel;
    runPanel = [](CRemoteDlg& panel) { panel.exec(); };
}

CRemoteApp::~CRemoteApp() = default;

bool CRemoteApp::NeedsDpiAdvice(int systemClass, QSize dpi) {
    return systemClass <= 6 && (dpi.width() != 96 || dpi.height() != 96);
}

std::unique_ptr<CRemoteDlg> CRemoteApp::MakePanel(int model, qv::SettingsStore& store,
                                                  std::uint16_t port, bool networkUp) {
    if (model == 0) {
        return std::make_unique<CRemoteDlgWren>(store, nullptr, port, networkUp);
    }
    return std::make_unique<CRemoteDlgRook>(store, nullptr, port, networkUp);
}

bool CRemoteApp::InitInstance(const Launch& launch) {
    quitting_ = false;
    chosenModel_ = -1;
    panelTemplate_ = 0;
    CDlgModel dlg;
    dlg.m_nModel = 0;
    if (runModelDialog(dlg) != QDialog::Accepted || quitting_) {
        return false;
    }
    chosenModel_ = dlg.m_nModel;

    // The panel's share of start-up that comes before its own window: the text-size advice
    // and the socket start-up, whose failure leaves a panel that cannot connect.
    if (NeedsDpiAdvice(systemClass(), screenDpi())) {
        message(QString::fromLatin1(kDpiAdvice));
    }
    const bool networkUp = startNetwork();
    if (!networkUp) {
        message(QString::fromLatin1(kNetworkError));
    }

    auto store = launch.settingsFile.empty()
                     ? std::make_unique<qv::SettingsStore>()
                     : std::make_unique<qv::SettingsStore>(launch.settingsFile);
    std::unique_ptr<CRemoteDlg> panel = makePanel(chosenModel_, *store, launch.port, networkUp);
    if (!panel || quitting_) {
        return false;
    }
    panelTemplate_ = panel->TemplateId();
    if (launch.start && networkUp) {
        StartRemoteControl(*panel);
    }
    runPanel(*panel);
    panel.reset();
    return false;
}

void CRemoteApp::StartRemoteControl(CRemoteDlg& panel) {
    QTimer::singleShot(0, &panel, [&panel] { TriggerMenuCommand(panel, qv::ids::kCmdConnect); });
    // Start once the connect has finished; give up after a minute.
    auto* poll = new QTimer(&panel);
    auto tries = std::make_shared<int>(0);
    connect(poll, &QTimer::timeout, &panel, [&panel, poll, tries] {
        if (TriggerMenuCommand(panel, qv::ids::kCmdStart) || ++*tries > 600) {
            poll->stop();
        }
    });
    poll->start(100);
}
