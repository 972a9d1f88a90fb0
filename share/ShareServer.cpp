#include "share/ShareServer.h"

#include <QDeadlineTimer>
#include <QNetworkInterface>
#include <QThread>

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
    // Everything the core says reaches this thread queued, tagged with its share: a share
    // stopped before its news is delivered says nothing more.
    const quint64 generation = ++generation_;
    const auto current = [this, generation] { return generation == generation_; };
    connect(
        core, &ShareCore::opened, this,
        [this, current](quint16 port, const QList<QHostAddress>& bound, const QString& error) {
            if (current()) {
                OnOpened(port, bound, error);
            }
        },
        Qt::QueuedConnection);
    connect(
        core, &ShareCore::press, this,
        [this, current](const QString& peer, const qv::share::SharePress& p) {
            if (current()) {
                emit press(peer, p);
            }
        },
        Qt::QueuedConnection);
    connect(
        core, &ShareCore::viewersChanged, this,
        [this, current](int count) {
            if (current()) {
                viewers_.store(count);
                emit viewersChanged(count);
            }
        },
        Qt::QueuedConnection);
    tls_ = !config.certFile.isEmpty() && !config.keyFile.isEmpty();
    control_ = config.control;
    {
        std::lock_guard hold(coreLock_);
        core_ = core;
        thread_ = thread;
    }
    thread->start();
    QMetaObject::invokeMethod(
        core, [core] { core->Listen(); }, Qt::QueuedConnection);
    return true;
}

void ShareServer::OnOpened(quint16 port, const QList<QHostAddress>& bound, const QString& error) {
    if (port == 0) {
        Stop();
        emit started(false, error);
        return;
    }
    port_ = port;
    bound_ = bound;
    emit started(true, QString());
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
    ++generation_;
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
