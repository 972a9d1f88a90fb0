#include "tools/qvctl/LiveSession.h"

#include <fcntl.h>
#include <unistd.h>

#include <QCoreApplication>
#include <QSocketNotifier>
#include <cerrno>
#include <csignal>
#include <cstdio>

#include "link/CommandSet.h"

namespace qvctl {
namespace {

int signalPipe[2] = {-1, -1};

void OnSignal(int signal) {
    const int saved = errno;
    const auto byte = static_cast<unsigned char>(signal);
    // A full pipe already holds a wake-up; nothing is lost by dropping this one.
    [[maybe_unused]] const ssize_t n = ::write(signalPipe[1], &byte, 1);
    errno = saved;
}

}  // namespace

LiveSession::LiveSession(Options options, QObject* parent)
    : QObject(parent), options_(std::move(options)) {}

LiveSession::~LiveSession() {
    Stop();
}

bool LiveSession::Start(FrameSink sink) {
    if (session_) {
        return true;
    }
    if (!home_.isValid()) {
        error_ = "cannot make a temporary folder: " + home_.errorString().toStdString();
        return false;
    }
    const std::string home = home_.path().toStdString();
    store_ = std::make_unique<qv::SettingsStore>(home + "/settings.ini");
    engine_.SetPort(options_.target.port);
    session_ =
        std::make_unique<qv::SessionController>(engine_, *store_, qv::PanelTraits::HardKey());
    session_->logFolder = home;
    connect(session_.get(), &qv::SessionController::stateChanged, this, &LiveSession::OnState);
    connect(session_.get(), &qv::SessionController::failure, this, [this](int reason) {
        const auto& t = options_.target;
        QString text = reason == qv::kReasonTcpOpen
                           ? QStringLiteral("cannot connect to %1 port %2")
                           : QStringLiteral("%1 port %2 does not answer as an instrument");
        emit failed(text.arg(QString::fromStdString(t.host)).arg(t.port));
    });
    session_->Create();
    if (sink) {
        session_->SetFrameSink([sink = std::move(sink)](std::span<const std::uint8_t> jpeg) {
            sink(jpeg, Clock::now());
        });
    }
    session_->StartWorkers({});
    session_->SetLiveRate(static_cast<int>(options_.rate));
    const bool ipv6 = options_.ipv6 || options_.target.ipv6;
    session_->SetLink(ipv6 ? qv::kMethodTcp6 : qv::kMethodTcp, options_.target.host,
                      options_.target.host);
    if (!session_->Connect()) {
        error_ = "cannot start connecting";
        return false;
    }
    return true;
}

void LiveSession::OnState() {
    if (stopped_) {
        return;
    }
    const qv::LinkState state = session_->linkState();
    const bool up = state == qv::LinkState::Connected;
    if (up && !session_->Streaming()) {
        session_->Start();
    }
    if (up && !wasUp_) {
        everConnected_ = true;
        emit connected();
    } else if (state == qv::LinkState::Reconnecting && wasUp_) {
        emit linkLost();
    }
    wasUp_ = up;
}

void LiveSession::Stop() {
    if (stopped_ || !session_) {
        stopped_ = true;
        return;
    }
    stopped_ = true;
    session_->Stop();
    session_->Close();
    // The frame file the screen loop kept in the temporary folder is of no use to anyone now.
    const std::string frame = session_->FramePath();
    if (!frame.empty()) {
        ::unlink(frame.c_str());
    }
}

void LiveSession::SendKey(std::string text) {
    if (session_ && !stopped_) {
        session_->SendKey(std::move(text));
    }
}

bool LiveSession::LinkUp() const {
    return session_ && session_->linkState() == qv::LinkState::Connected;
}

std::string LiveSession::ModelName() const {
    return session_ ? session_->ModelName() : std::string();
}

bool HandleStopSignals(std::function<void(int signal)> onSignal) {
    if (signalPipe[0] >= 0 || ::pipe2(signalPipe, O_CLOEXEC | O_NONBLOCK) != 0) {
        return false;
    }
    auto* notifier =
        new QSocketNotifier(signalPipe[0], QSocketNotifier::Read, QCoreApplication::instance());
    QObject::connect(notifier, &QSocketNotifier::activated, notifier,
                     [onSignal = std::move(onSignal)] {
                         unsigned char byte = 0;
                         while (::read(signalPipe[0], &byte, 1) == 1) {
                             onSignal(byte);
                         }
                     });
    struct sigaction action {};
    action.sa_handler = OnSignal;
    sigemptyset(&action.sa_mask);
    action.sa_flags = SA_RESTART;
    for (const int signal : {SIGTERM, SIGINT, SIGHUP}) {
        ::sigaction(signal, &action, nullptr);
    }
    return true;
}

}  // namespace qvctl
