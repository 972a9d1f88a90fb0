// A WebSocket text frame as a browser sends it, for clients written on raw sockets (those
// that stop reading). Clients must mask; the key is fixed, which the server may not mind.
#pragma once

#include <QByteArray>

namespace qv::share::test {

// FIN + text | MASK + length (7 bits, or 126 and 16 bits) | key | payload ^ key
inline QByteArray MaskedTextFrame(const QByteArray& payload) {
    QByteArray frame;
    frame.append(static_cast<char>(0x81));
    const auto size = static_cast<unsigned>(payload.size());
    if (size < 126) {
        frame.append(static_cast<char>(0x80 | size));
    } else {
        frame.append(static_cast<char>(0x80 | 126));
        frame.append(static_cast<char>((size >> 8) & 0xFF));
        frame.append(static_cast<char>(size & 0xFF));
    }
    const char key[4] = {1, 2, 3, 4};
    frame.append(key, 4);
    for (qsizetype i = 0; i < payload.size(); ++i) {
        frame.append(static_cast<char>(payload[i] ^ key[i % 4]));
    }
    return frame;
}

// The hello a viewer opens with: its token.
inline QByteArray HelloFrame(const QByteArray& token) {
    return MaskedTextFrame(R"({"t":"hello","token":")" + token + "\"}");
}

}  // namespace qv::share::test
