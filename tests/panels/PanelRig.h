// What every panel test stands on: a private log folder, a settings file that points at a
// simulated instrument on a free loopback port, and message boxes closed as they open (their
// class names are kept, so a test can tell which box a session showed).
#pragma once

#include <QObject>
#include <QStringList>
#include <QTemporaryDir>
#include <QTimer>
#include <memory>

#include "session/SettingsStore.h"
#include "sim/SimServer.h"

class PanelRig : public QObject {
    Q_OBJECT
  public:
    // Once per test program.
    bool Prepare();
    // Before each test: fresh settings (TCP/IPv4 to 127.0.0.1) and a fresh simulator.
    bool Reset(int screenWidth = 800, int screenHeight = 600);
    // After each test.
    void Release() { sim.reset(); }

    QTemporaryDir dir;
    QString ini;
    std::unique_ptr<qv::SettingsStore> store;
    std::unique_ptr<qv::sim::SimServer> sim;
    QStringList dismissed;

  private:
    QTimer dismisser_;
};
