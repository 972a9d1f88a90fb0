// The application object: asks for the instrument line, then runs the matching front panel
// until it closes. The system checks, dialogs and panels come through replaceable steps so
// start-up can be driven without a person at the screen.
#pragma once

#include <QApplication>
#include <QSize>
#include <cstdint>
#include <functional>
#include <memory>
#include <string>

class CDlgModel;
class CRemoteDlg;

namespace qv {
class SettingsStore;
}

class CRemoteApp : public QApplication {
    Q_OBJECT
  public:
    static constexpr const char* kDpiAdvice =
        "In Windows 7 and older, you must set custom text size (DPI) to 'Smaller-100% "
        "(default)' on your computer.To change this option, go to Control Panel > Appearance "
        "and Personalization > Display.";
    static constexpr const char* kNetworkError = "WSA 32 Load Error!";

    // What the command line asks for (the product itself needs none of it).
    struct Launch {
        std::string settingsFile;  // empty: the user's own store
        std::uint16_t port = 0;    // 0: the instrument's port 66
        bool start = false;        // connect and start remote control at once
    };

    CRemoteApp(int& argc, char** argv);
    ~CRemoteApp() override;

    // Runs the whole program: model dialog, checks, one panel. Returns false, as there is
    // nothing to do once the panel has closed.
    bool InitInstance(const Launch& launch);

    // True when the text-size advice is due: old systems (class 6 or lower, unknown included)
    // on a screen that is not at 96 pixels per inch.
    static bool NeedsDpiAdvice(int systemClass, QSize dpi);

    // Replaceable steps (tests).
    std::function<int()> systemClass;
    std::function<QSize()> screenDpi;
    std::function<bool()> startNetwork;
    std::function<void(const QString&)> message;
    std::function<int(CDlgModel&)> runModelDialog;
    using PanelFactory = std::function<std::unique_ptr<CRemoteDlg>(
        int model, qv::SettingsStore& store, std::uint16_t port, bool networkUp)>;
    PanelFactory makePanel;
    std::function<void(CRemoteDlg&)> runPanel;

    // What the last InitInstance did (tests).
    int chosenModel() const { return chosenModel_; }
    int panelTemplate() const { return panelTemplate_; }

    // The panel for a model line: 0 the soft-key panel, 1 and 2 the hard-key panel.
    static std::unique_ptr<CRemoteDlg> MakePanel(int model, qv::SettingsStore& store,
                                                 std::uint16_t port, bool networkUp);

    // SIGTERM, SIGINT and SIGHUP close the open windows the way their close boxes do.
    void CloseOnQuitSignals();

  private:
    void StartRemoteControl(CRemoteDlg& panel);
    void CloseAll();

    int chosenModel_ = -1;
    int panelTemplate_ = 0;
    bool quitting_ = false;
};
