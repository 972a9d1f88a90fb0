// A viewer as the page's script is one: a QWebSocket that says hello with its token once
// open, keeps what the share says, and acks each frame unless told not to.
#pragma once

#include <QJsonDocument>
#include <QJsonObject>
#include <QWebSocket>
#include <algorithm>
#include <memory>
#include <vector>

#include "share/ShareProtocol.h"

namespace qv::share::test {

struct Viewer {
    QWebSocket ws;
    std::vector<QJsonObject> texts;
    std::vector<QByteArray> frames;  // the JPEG bytes, the head taken off
    bool opened = false;
    bool closed = false;
    bool acks = true;

    explicit Viewer(const QString& origin) : ws(origin) {
        QObject::connect(&ws, &QWebSocket::connected, [this] {
            opened = true;
            if (!token_.isNull()) {
                Send(QStringLiteral(R"({"t":"hello","token":"%1"})").arg(token_));
            }
        });
        QObject::connect(&ws, &QWebSocket::disconnected, [this] { closed = true; });
        QObject::connect(&ws, &QWebSocket::textMessageReceived, [this](const QString& t) {
            texts.push_back(QJsonDocument::fromJson(t.toUtf8()).object());
        });
        QObject::connect(&ws, &QWebSocket::binaryMessageReceived, [this](const QByteArray& b) {
            frames.push_back(b.mid(kFrameHead));
            if (acks) {
                Send(R"({"t":"ack"})");
            }
        });
    }
    // Opened from a share's link, "http://host:port/#token", as the page opens its socket.
    static std::unique_ptr<Viewer> Following(const QString& link) {
        QString page = link.section('#', 0, 0);
        auto v = std::make_unique<Viewer>(page.chopped(1));
        v->Open(page.replace("http", "ws") + "ws", link.section('#', 1));
        return v;
    }
    // A null token: the socket opens and says nothing.
    void Open(const QString& url, const QString& token = {}) {
        token_ = token;
        ws.open(QUrl(url));
    }
    void Send(const QString& text) { ws.sendTextMessage(text); }
    // The "why" of the last message of this type.
    QString Why(const char* type) const {
        const auto last = std::find_if(texts.rbegin(), texts.rend(), [&](const QJsonObject& o) {
            return o.value("t").toString() == QLatin1String(type);
        });
        return last == texts.rend() ? QString() : last->value("why").toString();
    }
    bool Has(const char* type) const { return Count(type) > 0; }
    int Count(const char* type) const {
        return static_cast<int>(std::count_if(
            texts.begin(), texts.end(),
            [&](const QJsonObject& o) { return o.value("t").toString() == QLatin1String(type); }));
    }

  private:
    QString token_;
};

}  // namespace qv::share::test
