// What the session tests stand on: a Qt event loop to deliver the session's queued calls, a
// private log folder and settings file, an engine, and a record of what the session showed.
#pragma once

#include <gtest/gtest.h>

#include <QCoreApplication>
#include <QTemporaryDir>
#include <chrono>
#include <fstream>
#include <functional>
#include <memory>
#include <sstream>
#include <string>
#include <vector>

#include "link/CDevComm.h"
#include "session/ActivityLog.h"
#include "session/SessionController.h"
#include "session/SettingsStore.h"

namespace qv::test {

using namespace std::chrono_literals;

// Runs the event loop until pred holds or the time is up; whether pred held.
inline bool WaitFor(const std::function<bool()>& pred, std::chrono::milliseconds timeout = 5s) {
    const auto until = std::chrono::steady_clock::now() + timeout;
    while (!pred()) {
        if (std::chrono::steady_clock::now() >= until) {
            return false;
        }
        QCoreApplication::processEvents(QEventLoop::AllEvents, 5);
    }
    return true;
}

inline std::string ReadFile(const std::string& path) {
    std::ifstream in(path, std::ios::binary);
    std::stringstream s;
    s << in.rdbuf();
    return s.str();
}

// Lines of the activity log without their time stamps.
inline std::vector<std::string> LogMessages() {
    std::vector<std::string> out;
    std::istringstream in(ReadFile(ActivityLog::Instance().Path()));
    std::string line;
    while (std::getline(in, line)) {
        if (line.size() > 22) {
            out.push_back(line.substr(22, line.size() - 23));  // stamp, three spaces; CR
        }
    }
    return out;
}

// What the session showed: boxes, failure messages ("reason N") and pane texts.
struct Shown {
    std::vector<std::string> boxes;
    std::map<int, std::string> panes;
    int states = 0;

    void Attach(SessionController& s) {
        QObject::connect(&s, &SessionController::message,
                         [this](const QString& t) { boxes.push_back(t.toStdString()); });
        QObject::connect(&s, &SessionController::failure, [this](int reason) {
            boxes.push_back("reason " + std::to_string(reason));
        });
        QObject::connect(&s, &SessionController::paneText,
                         [this](int pane, const QString& t) { panes[pane] = t.toStdString(); });
        QObject::connect(&s, &SessionController::stateChanged, [this] { ++states; });
    }
};

class SessionRig : public ::testing::Test {
  protected:
    void SetUp() override { ASSERT_TRUE(dir_.isValid()); }
    void TearDown() override {
        if (session_) {
            session_->Close();
        }
        ActivityLog::Instance().Close();
    }

    std::string Ini() const { return dir_.filePath("settings.ini").toStdString(); }

    // A session on a machine that never stored settings, pointed at port.
    SessionController& Make(PanelTraits traits, std::uint16_t port) {
        store_ = std::make_unique<SettingsStore>(Ini());
        engine_.SetPort(port);
        session_ = std::make_unique<SessionController>(engine_, *store_, traits);
        session_->logFolder = dir_.path().toStdString();
        shown_ = Shown{};
        shown_.Attach(*session_);
        session_->Create();
        return *session_;
    }

    // Connect and wait for its result to be applied.
    void ConnectAndWait() {
        ASSERT_TRUE(session_->Connect());
        ASSERT_TRUE(WaitFor([this] { return !session_->Connecting(); }, 20s));
    }

    QTemporaryDir dir_;
    std::unique_ptr<SettingsStore> store_;
    CDevComm engine_;
    std::unique_ptr<SessionController> session_;
    Shown shown_;
};

}  // namespace qv::test
