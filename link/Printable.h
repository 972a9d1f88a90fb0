// Text a peer sent (a model name, a USB string, a command) made safe for a terminal or a log:
// it can carry no control character or escape sequence.
#pragma once

#include <string>
#include <string_view>

namespace qv {

// Printable ASCII and well-formed UTF-8 characters from U+00A0 up stay as they are; a
// backslash becomes "\\" and every other byte "\xHH" (ESC is "\x1b"), so nothing a terminal
// acts on is left and the original bytes can be read back.
std::string Printable(std::string_view text);

}  // namespace qv
