// Driving a session from a benchmark: its queued calls need a running event loop.
#pragma once

#include <QCoreApplication>
#include <QEventLoop>
#include <QTimer>
#include <chrono>

#include "session/SessionController.h"

namespace qv::bench {

// Runs the event loop for a while.
inline void Pump(std::chrono::milliseconds time) {
    QEventLoop loop;
    QTimer::singleShot(time, &loop, &QEventLoop::quit);
    loop.exec();
}

// Connects and waits for the result; whether the link is up.
inline bool ConnectAndWait(SessionController& session,
                           std::chrono::milliseconds timeout = std::chrono::seconds(20)) {
    if (!session.Connect()) {
        return false;
    }
    const auto until = std::chrono::steady_clock::now() + timeout;
    while (session.Connecting() && std::chrono::steady_clock::now() < until) {
        QCoreApplication::processEvents(QEventLoop::AllEvents, 5);
    }
    return session.IsConnectedState();
}

}  // namespace qv::bench
