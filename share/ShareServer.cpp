#include "share/ShareServer.h"

#include <QDeadlineTimer>
#include <QNetworkInterface>
#include <QThread>
#include <future>

#include "share/ShareCore.h"

namespace qv::share {

ShareServer::ShareServer(QObject* parent) : QObject(parent) {
    qRegisterMetaType<qv::share::SharePress>();
    qRegisterMetaType<qv::share::ShareStatus>();
}

ShareServer::~ShareServer() {
    Stop();
}

bool ShareServer::Start(const ShareConfig& config, QString& error) {
    Stop();
    viewToken_ = MakeToken();
    controlToken_ = config.control ? MakeToken() : QByteArray();
    if (viewToken_.isEmpty() || (config.control && controlToken_.isEmpty())) {
        error = QStringLiteral("the system gave no random numbers for the tokens");
        return false;
    }
    if (config.maxViewers < 1 || config.maxViewers > kMaxViewers) {
        error = QStringLiteral("viewers: 1 to %1").arg(kMaxViewers);
        return false;
    }
    inbox_ = std::make_shared<ShareInbox>();
    auto* thread = new QThread;
    thread->setObjectName(QStringLiteral("share"));
    auto* core = new ShareCore(config, viewToken_, controlToken_, inbox_);
    core->moveToThread(thread);
    connect(core, &ShareCore::press, this, &ShareServer::press, Qt::QueuedConnection);
    connect(
        core, &ShareCore::viewersChanged, this,
        [this](int count) {
            viewers_.store(count);
            emit viewersChanged(count);
        },
        Qt::QueuedConnection);
    thread->start();

    struct Opened {
        quint16 port = 0;
        QString error;
        QList<QHostAddress> bound;
    };
    auto opened = std::make_shared<std::promise<Opened>>();
    std::future<Opened> result = opened->get_future();
    QMetaObject::invokeMethod(
        core,
        [core, opened] {
            Opened o;
            o.port = core->Open(o.error);
            o.bound = core->Bound();
            opened->set_value(o);
        },
        Qt::QueuedConnection);
    // Listening is immediate; the deadline only guards against a thread that never ran.
    Opened o;
    if (result.wait_for(std::chrono::seconds(2)) == std::future_status::ready) {
        o = result.get();
    } else {
        o.error = QStringLiteral("the share's thread did not start");
    }
    {
        std::lock_guard hold(coreLock_);
        core_ = core;
        thread_ = thread;
    }
    if (o.port == 0) {
        error = o.error;
        Stop();
        return false;
    }
    port_ = o.port;
    bound_ = o.bound;
    tls_ = !config.certFile.isEmpty() && !config.keyFile.isEmpty();
    control_ = config.control;
    return true;
}

void ShareServer::Stop() {
    ShareCore* core = nullptr;
    QThread* thread = nullptr;
    {
        std::lock_guard hold(coreLock_);
        core = std::exchange(core_, nullptr);
        thread = std::exchange(thread_, nullptr);
    }
    if (core == nullptr) {
        return;
    }
    QMetaObject::invokeMethod(
        core, [core] { core->Shutdown(); }, Qt::QueuedConnection);
    if (thread->wait(QDeadlineTimer(2000))) {
        delete core;
        delete thread;
    }
    // Otherwise both are left as they are: nothing is destroyed that may still run.
    viewToken_.clear();
    controlToken_.clear();
    port_ = 0;
    bound_.clear();
    if (viewers_.exchange(0) != 0) {
        emit viewersChanged(0);
    }
}

QString ShareServer::Link(const QString& host, const QByteArray& token) const {
    if (token.isEmpty() || port_ == 0) {
        return {};
    }
    QHostAddress literal;
    const QString h =
        literal.setAddress(host) && literal.protocol() == QAbstractSocket::IPv6Protocol
            ? QStringLiteral("[%1]").arg(host)
            : host;
    return QStringLiteral("%1://%2:%3/#%4")
        .arg(tls_ ? QStringLiteral("https") : QStringLiteral("http"), h)
        .arg(port_)
        .arg(QString::fromLatin1(token));
}

QString ShareServer::OutwardAddress() {
    for (const QHostAddress& a : QNetworkInterface::allAddresses()) {
        if (!a.isLoopback() && a.protocol() == QAbstractSocket::IPv4Protocol) {
            return a.toString();
        }
    }
    return QStringLiteral("127.0.0.1");
}

QString ShareServer::ViewLink(const QString& host) const {
    return Link(host, viewToken_);
}

QString ShareServer::ControlLink(const QString& host) const {
    return control_ ? Link(host, controlToken_) : QString();
}

void ShareServer::PushFrame(const QByteArray& jpeg,
                            std::chrono::steady_clock::time_point received) {
    std::lock_guard hold(coreLock_);
    if (core_ == nullptr) {
        return;
    }
    bool post = false;
    {
        std::lock_guard inbox(inbox_->lock);
        inbox_->frame = jpeg;
        inbox_->received = received;
        post = !std::exchange(inbox_->framePosted, true);
    }
    if (post) {
        ShareCore* core = core_;
        QMetaObject::invokeMethod(
            core, [core] { core->TakeInbox(); }, Qt::QueuedConnection);
    }
}

void ShareServer::SetStatus(const ShareStatus& status) {
    std::lock_guard hold(coreLock_);
    if (core_ == nullptr) {
        return;
    }
    bool post = false;
    {
        std::lock_guard inbox(inbox_->lock);
        inbox_->status = status;
        post = !std::exchange(inbox_->statusPosted, true);
    }
    if (post) {
        ShareCore* core = core_;
        QMetaObject::invokeMethod(
            core, [core] { core->TakeInbox(); }, Qt::QueuedConnection);
    }
}

}  // namespace qv::share
