#include "share/ShareProtocol.h"

#include <sys/random.h>

#include <QHostAddress>
#include <QJsonDocument>
#include <QJsonValue>
#include <QUrl>
#include <Qt>
#include <array>
#include <cerrno>

namespace qv::share {
namespace {

ViewerMessage Bad(const char* why) {
    ViewerMessage m;
    m.why = QString::fromLatin1(why);
    return m;
}

// An integer member, or false when it is missing, not a number or not whole.
bool IntMember(const QJsonObject& o, const char* name, int& out) {
    const QJsonValue v = o.value(QLatin1String(name));
    if (!v.isDouble()) {
        return false;
    }
    const double d = v.toDouble();
    if (d < -1e6 || d > 1e6 || d != static_cast<double>(static_cast<int>(d))) {
        return false;
    }
    out = static_cast<int>(d);
    return true;
}

// host[:port] without the port; an IPv6 literal keeps no brackets.
QString HostPart(const QByteArray& host) {
    QUrl url;
    url.setAuthority(QString::fromLatin1(host), QUrl::StrictMode);
    return url.isValid() ? url.host() : QString();
}

}  // namespace

ViewerMessage ParseViewerMessage(const QByteArray& text) {
    if (static_cast<std::size_t>(text.size()) > kMaxMessage) {
        return Bad("message longer than 1024 bytes");
    }
    QJsonParseError error{};
    const QJsonDocument doc = QJsonDocument::fromJson(text, &error);
    if (error.error != QJsonParseError::NoError || !doc.isObject()) {
        return Bad("not a JSON object");
    }
    const QJsonObject o = doc.object();
    const QString type = o.value(QLatin1String("t")).toString();
    ViewerMessage m;
    if (type == QLatin1String("hello")) {
        const QJsonValue token = o.value(QLatin1String("token"));
        if (!token.isString()) {
            return Bad("hello without a token");
        }
        m.kind = ViewerMessage::Kind::Hello;
        m.token = token.toString().toLatin1();
    } else if (type == QLatin1String("ack")) {
        m.kind = ViewerMessage::Kind::Ack;
    } else if (type == QLatin1String("key")) {
        if (!IntMember(o, "id", m.id)) {
            return Bad("key without an id");
        }
        m.kind = ViewerMessage::Kind::Key;
    } else if (type == QLatin1String("knob")) {
        if (!IntMember(o, "dir", m.dir)) {
            return Bad("knob without a direction");
        }
        m.kind = ViewerMessage::Kind::Knob;
    } else if (type == QLatin1String("touch")) {
        if (!IntMember(o, "x", m.x) || !IntMember(o, "y", m.y)) {
            return Bad("touch without x and y");
        }
        m.kind = ViewerMessage::Kind::Touch;
    } else {
        return Bad("unknown message");
    }
    return m;
}

bool CheckPress(const ViewerMessage& message, const ShareKeySet& keys, bool touches,
                SharePress& press, QString& why) {
    switch (message.kind) {
        case ViewerMessage::Kind::Key:
            if (const ShareKey* key = keys.Find(message.id)) {
                press = SharePress{SharePress::Kind::Key, key->id, key->command, 0, 0};
                return true;
            }
            why = QStringLiteral("no such key");
            return false;
        case ViewerMessage::Kind::Knob:
            if (message.dir == -1 || message.dir == 1) {
                press = SharePress{SharePress::Kind::Key, keys.knobId,
                                   message.dir < 0 ? "KEYP:LEFT" : "KEYP:RIGH", 0, 0};
                return true;
            }
            why = QStringLiteral("the knob turns -1 or 1");
            return false;
        case ViewerMessage::Kind::Touch:
            if (!touches) {
                why = QStringLiteral("this instrument takes no touches");
                return false;
            }
            if (message.x < 0 || message.y < 0 || message.x >= keys.screenWidth ||
                message.y >= keys.screenHeight) {
                why = QStringLiteral("touch outside the screen");
                return false;
            }
            press = SharePress{SharePress::Kind::Touch, 0, {}, message.x, message.y};
            return true;
        default:
            why = QStringLiteral("not a press");
            return false;
    }
}

QJsonObject BrowserKeyCodes(const std::vector<ShareKeyboardRow>& rows) {
    QJsonObject codes;
    const auto add = [&codes](const QString& code, int id) {
        if (!codes.contains(code)) {
            codes.insert(code, id);
        }
    };
    for (const ShareKeyboardRow& row : rows) {
        const int k = row.qtKey;
        if (k >= Qt::Key_0 && k <= Qt::Key_9) {
            const int digit = k - Qt::Key_0;
            add(QStringLiteral("Numpad%1").arg(digit), row.controlId);
            if (!row.padOnly) {
                add(QStringLiteral("Digit%1").arg(digit), row.controlId);
            }
        } else if (k >= Qt::Key_F1 && k <= Qt::Key_F12) {
            add(QStringLiteral("F%1").arg(k - Qt::Key_F1 + 1), row.controlId);
        } else {
            const char* code = nullptr;
            switch (k) {
                case Qt::Key_Return:
                    code = "Enter";
                    break;
                case Qt::Key_Enter:
                    code = "NumpadEnter";
                    break;
                case Qt::Key_Escape:
                    code = "Escape";
                    break;
                case Qt::Key_Backspace:
                    code = "Backspace";
                    break;
                case Qt::Key_Delete:
                    code = "Delete";
                    break;
                case Qt::Key_Left:
                    code = "ArrowLeft";
                    break;
                case Qt::Key_Right:
                    code = "ArrowRight";
                    break;
                case Qt::Key_Up:
                    code = "ArrowUp";
                    break;
                case Qt::Key_Down:
                    code = "ArrowDown";
                    break;
                case Qt::Key_Period:
                case Qt::Key_Comma:
                    // The pad's decimal key, whichever character the layout gives it.
                    code = row.padOnly ? "NumpadDecimal" : nullptr;
                    break;
                default:
                    break;
            }
            if (code != nullptr) {
                add(QString::fromLatin1(code), row.controlId);
            }
        }
    }
    return codes;
}

QByteArray FrameMessage(quint32 seq, quint32 ageMs, const QByteArray& jpeg) {
    QByteArray out;
    out.reserve(kFrameHead + jpeg.size());
    for (const quint32 v : {seq, ageMs}) {
        out.append(static_cast<char>((v >> 24) & 0xFF));
        out.append(static_cast<char>((v >> 16) & 0xFF));
        out.append(static_cast<char>((v >> 8) & 0xFF));
        out.append(static_cast<char>(v & 0xFF));
    }
    out.append(jpeg);
    return out;
}

QByteArray MakeToken() {
    std::array<unsigned char, 16> bytes{};
    std::size_t got = 0;
    while (got < bytes.size()) {
        const ssize_t n = ::getrandom(bytes.data() + got, bytes.size() - got, 0);
        if (n < 0 && errno == EINTR) {
            continue;
        }
        if (n <= 0) {
            return {};
        }
        got += static_cast<std::size_t>(n);
    }
    return QByteArray(reinterpret_cast<const char*>(bytes.data()), bytes.size()).toHex();
}

bool TokensEqual(const QByteArray& given, const QByteArray& expected) {
    if (expected.isEmpty() || given.size() != expected.size()) {
        return false;
    }
    unsigned char diff = 0;
    for (qsizetype i = 0; i < expected.size(); ++i) {
        diff |= static_cast<unsigned char>(given[i] ^ expected[i]);
    }
    return diff == 0;
}

bool HostAllowed(const QByteArray& host, const QString& machineName) {
    if (host.isEmpty() || host.size() > 255) {
        return false;
    }
    const QString name = HostPart(host);
    if (name.isEmpty()) {
        return false;
    }
    QHostAddress literal;
    if (literal.setAddress(name)) {
        return true;
    }
    const QString lower = name.toLower();
    return lower == QLatin1String("localhost") ||
           (!machineName.isEmpty() && (lower == machineName.toLower() ||
                                       lower == machineName.toLower() + QLatin1String(".local")));
}

bool OriginMatches(const QByteArray& origin, const QByteArray& host, bool tls) {
    if (origin.isEmpty() || host.isEmpty()) {
        return false;
    }
    const QByteArray expected =
        (tls ? QByteArrayLiteral("https://") : QByteArrayLiteral("http://")) + host.toLower();
    return origin.toLower() == expected;
}

bool RateWindow::Allow(Clock::time_point now) {
    while (!recent_.empty() && now - recent_.front() >= window_) {
        recent_.pop_front();
    }
    if (recent_.size() >= limit_) {
        return false;
    }
    recent_.push_back(now);
    return true;
}

}  // namespace qv::share
