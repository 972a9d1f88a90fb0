#include "tools/qvctl/Serve.h"

#include <QCoreApplication>
#include <QHostAddress>
#include <atomic>
#include <cstdio>
#include <cstdlib>
#include <optional>

#include "link/CDevComm.h"
#include "panels/ShareKeys.h"
#include "share/ShareSession.h"
#include "tools/qvctl/LiveSession.h"
#include "tools/qvctl/Target.h"

namespace qvctl {
namespace {

constexpr int kExitOk = 0;
constexpr int kExitFailed = 1;
constexpr int kExitUsage = 2;

// The model name, or empty when the instrument does not answer as one.
std::string ProbeModel(const Target& target, bool ipv6) {
    qv::CDevComm dev;
    dev.Init();
    dev.SetAddress(target.host);
    dev.SetPort(target.port);
    std::string model;
    if ((ipv6 ? dev.ConnectTcp6() : dev.ConnectTcp()) == 1 && dev.RequestEquipment() == 1 &&
        dev.ReceiveAnswer(nullptr) == 100) {
        model = reinterpret_cast<const char*>(dev.GetData());
    }
    dev.Disconnect();
    return model;
}

bool ParseCount(const std::string& text, int low, int high, int& out) {
    char* end = nullptr;
    const long v = std::strtol(text.c_str(), &end, 10);
    if (text.empty() || *end != '\0' || v < low || v > high) {
        return false;
    }
    out = static_cast<int>(v);
    return true;
}

}  // namespace

bool ParseListen(const std::string& text, std::string& address, int& port) {
    port = 8066;
    std::string host = text;
    if (!text.empty() && text.front() == '[') {
        const auto close = text.find(']');
        if (close == std::string::npos) {
            return false;
        }
        host = text.substr(1, close - 1);
        const std::string rest = text.substr(close + 1);
        if (!rest.empty() && (rest.front() != ':' || !ParseCount(rest.substr(1), 0, 65535, port))) {
            return false;
        }
    } else if (const auto colon = text.find(':');
               colon != std::string::npos && text.find(':', colon + 1) == std::string::npos) {
        host = text.substr(0, colon);
        if (!ParseCount(text.substr(colon + 1), 0, 65535, port)) {
            return false;
        }
    }
    QHostAddress literal;
    if (!literal.setAddress(QString::fromStdString(host))) {
        return false;
    }
    address = host;
    return true;
}

int Serve(int argc, char** argv, const std::vector<std::string>& args) {
    bool ipv6 = false;
    bool softKey = true;
    const auto usage = [] {
        std::fputs(
            "usage: qvctl serve HOST[:PORT] [--ipv6] [--panel soft|hard] [--listen ADDR:PORT] "
            "[--control]\n"
            "             [--max-viewers N] [--rate normal|responsive|fast] [--cert FILE --key "
            "FILE]\n",
            stderr);
        return kExitUsage;
    };
    if (args.empty()) {
        return usage();
    }
    Target target;
    if (!ParseTarget(args[0], target)) {
        std::fprintf(stderr, "qvctl: bad address \"%s\"\n", args[0].c_str());
        return kExitUsage;
    }
    qv::share::ShareConfig config;
    qv::LiveRate rate = qv::LiveRate::Normal;
    std::string listen;
    int port = 8066;
    bool explicitListen = false;
    for (std::size_t i = 1; i < args.size(); ++i) {
        const std::string& a = args[i];
        const bool hasValue = i + 1 < args.size();
        if (a == "--control") {
            config.control = true;
        } else if (a == "--ipv6") {
            ipv6 = true;
        } else if (a == "--panel" && hasValue) {
            // The instrument line, as "Select Model" asks it: its names do not tell.
            const std::string& p = args[++i];
            if (p != "soft" && p != "hard") {
                std::fprintf(stderr, "qvctl: --panel is soft or hard\n");
                return kExitUsage;
            }
            softKey = p == "soft";
        } else if (a == "--listen" && hasValue) {
            if (!ParseListen(args[++i], listen, port)) {
                std::fprintf(stderr,
                             "qvctl: --listen wants ADDR:PORT with an IP address, not \"%s\"\n",
                             args[i].c_str());
                return kExitUsage;
            }
            explicitListen = true;
        } else if (a == "--max-viewers" && hasValue) {
            if (!ParseCount(args[++i], 1, qv::share::ShareServer::kMaxViewers, config.maxViewers)) {
                std::fprintf(stderr, "qvctl: --max-viewers wants 1 to %d\n",
                             qv::share::ShareServer::kMaxViewers);
                return kExitUsage;
            }
        } else if (a == "--rate" && hasValue) {
            const std::string& r = args[++i];
            if (r == "normal") {
                rate = qv::LiveRate::Normal;
            } else if (r == "responsive") {
                rate = qv::LiveRate::Responsive;
            } else if (r == "fast") {
                rate = qv::LiveRate::Fast;
            } else {
                std::fprintf(stderr, "qvctl: --rate is normal, responsive or fast\n");
                return kExitUsage;
            }
        } else if (a == "--cert" && hasValue) {
            config.certFile = QString::fromStdString(args[++i]);
        } else if (a == "--key" && hasValue) {
            config.keyFile = QString::fromStdString(args[++i]);
        } else {
            return usage();
        }
    }
    if (config.certFile.isEmpty() != config.keyFile.isEmpty()) {
        std::fprintf(stderr, "qvctl: --cert and --key go together\n");
        return kExitUsage;
    }

    QCoreApplication app(argc, argv);
    ipv6 = ipv6 || target.ipv6;
    const std::string model = ProbeModel(target, ipv6);
    if (model.empty()) {
        std::fprintf(stderr, "qvctl: %s port %u does not answer as an instrument\n",
                     target.host.c_str(), target.port);
        return kExitFailed;
    }

    QString linkHost = QStringLiteral("127.0.0.1");
    if (explicitListen) {
        const QHostAddress address(QString::fromStdString(listen));
        config.addresses = {address};
        config.port = static_cast<quint16>(port);
        config.portTries = 1;
        const bool any = address == QHostAddress(QHostAddress::AnyIPv4) ||
                         address == QHostAddress(QHostAddress::AnyIPv6);
        if (any) {
            config.addresses = {QHostAddress(QHostAddress::Any)};
            linkHost = qv::share::ShareServer::OutwardAddress();
            std::fprintf(stderr,
                         "qvctl: serving on all networks: anyone who can reach this machine "
                         "and holds a link sees the screen%s\n",
                         config.control ? " and can press keys" : "");
        } else {
            linkHost = QString::fromStdString(listen);
        }
    }
    config.keys = qv::ShareKeysFor(softKey);

    LiveSession::Options options;
    options.target = target;
    options.ipv6 = ipv6;
    options.rate = rate;
    options.softKey = softKey;
    // Made before the session, so they outlive it: its worker hands frames to the server
    // until the session has stopped.
    std::atomic<qv::share::ShareServer*> server{nullptr};
    std::optional<qv::share::ShareSession> share;
    LiveSession live(options);
    int status = kExitOk;
    const auto stop = [&](int code) {
        status = code;
        if (share) {
            share->Stop();
        }
        live.Stop();
        app.quit();
    };
    QObject::connect(&live, &LiveSession::failed, &app, [&](const QString& reason) {
        std::fprintf(stderr, "qvctl: %s\n", reason.toStdString().c_str());
        stop(kExitFailed);
    });
    QObject::connect(&live, &LiveSession::connected, &app, [] {
        std::printf("link: up\n");
        std::fflush(stdout);
    });
    QObject::connect(&live, &LiveSession::linkLost, &app, [] {
        std::printf("link: lost, reconnecting\n");
        std::fflush(stdout);
    });
    HandleStopSignals([&](int) { stop(kExitOk); });
    if (!live.Start(
            [&server](std::span<const std::uint8_t> jpeg, LiveSession::Clock::time_point at) {
                if (qv::share::ShareServer* s = server.load()) {
                    s->PushFrame(QByteArray(reinterpret_cast<const char*>(jpeg.data()),
                                            static_cast<qsizetype>(jpeg.size())),
                                 at);
                }
            })) {
        std::fprintf(stderr, "qvctl: %s\n", live.Error().c_str());
        return kExitFailed;
    }
    share.emplace(live.session(), softKey);
    QObject::connect(&*share, &qv::share::ShareSession::viewersChanged, &app, [](int n) {
        std::printf("viewers: %d\n", n);
        std::fflush(stdout);
    });
    QObject::connect(&*share, &qv::share::ShareSession::pressed, &app,
                     [](const QString& peer, const QString& command) {
                         std::printf("press %s: %s\n", peer.toStdString().c_str(),
                                     command.toStdString().c_str());
                         std::fflush(stdout);
                     });
    // The links are printed once the share listens; a port that cannot be had ends the run.
    QObject::connect(
        &*share, &qv::share::ShareSession::started, &app, [&](bool ok, const QString& error) {
            if (!ok) {
                std::fprintf(stderr, "qvctl: cannot serve: %s\n", error.toStdString().c_str());
                stop(kExitFailed);
                return;
            }
            const qv::share::ShareServer& s = share->server();
            std::printf("model: %s\n", model.c_str());
            std::printf("view: %s\n", s.ViewLink(linkHost).toStdString().c_str());
            if (config.control) {
                std::printf("control: %s\n", s.ControlLink(linkHost).toStdString().c_str());
            }
            if (!s.Tls()) {
                std::fprintf(stderr,
                             "qvctl: the link is plain http: use it on this machine "
                             "or through a tunnel (ssh -L %u:127.0.0.1:%u HOST)\n",
                             s.Port(), s.Port());
            }
            std::fflush(stdout);
        });
    QString error;
    if (!share->Start(config, error)) {
        std::fprintf(stderr, "qvctl: cannot serve: %s\n", error.toStdString().c_str());
        live.Stop();
        return kExitFailed;
    }
    server.store(&share->server());
    app.exec();
    server.store(nullptr);
    live.Stop();
    return status;
}

}  // namespace qvctl
