// A simulator of its own for a benchmark: a separate process, so none of its time is counted
// as the client's.
#pragma once

#include <QCoreApplication>
#include <QDir>
#include <QProcess>
#include <QRegularExpression>
#include <QString>
#include <QStringList>
#include <chrono>
#include <cstdio>

namespace qv::bench {

// Starts qvsim (the given path, else the one in this build tree) on loopback at a free port,
// quiet, with the extra arguments. Its port, or 0 after saying why on stderr (as who).
inline quint16 StartQvsim(QProcess& sim, const QString& given, const QStringList& extra,
                          const char* who) {
    sim.setProgram(
        given.isEmpty()
            ? QDir(QCoreApplication::applicationDirPath()).filePath(QStringLiteral("../sim/qvsim"))
            : given);
    sim.setArguments(QStringList{QStringLiteral("--bind"), QStringLiteral("127.0.0.1"),
                                 QStringLiteral("--port"), QStringLiteral("0"),
                                 QStringLiteral("--quiet")} +
                     extra);
    sim.start();
    QString banner;
    bool listening = sim.waitForStarted(5000);
    const auto until = std::chrono::steady_clock::now() + std::chrono::seconds(10);
    while (listening && !banner.contains('\n')) {
        if (std::chrono::steady_clock::now() >= until) {
            listening = false;
            break;
        }
        sim.waitForReadyRead(20);
        banner += QString::fromLocal8Bit(sim.readAllStandardOutput());
    }
    const auto port =
        QRegularExpression(QStringLiteral("port (\\d+)")).match(banner).captured(1).toUShort();
    if (!listening || port == 0) {
        std::fprintf(stderr, "%s: qvsim did not start (%s): %s\n", who, qPrintable(sim.program()),
                     qPrintable(banner));
        return 0;
    }
    return port;
}

}  // namespace qv::bench
