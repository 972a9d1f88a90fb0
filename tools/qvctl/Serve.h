// qvctl serve TARGET [--ipv6] [--panel soft|hard] [--listen ADDR:PORT] [--control]
//                    [--max-viewers N] [--rate normal|responsive|fast] [--cert FILE --key FILE]
#pragma once

#include <string>
#include <vector>

namespace qvctl {

// args: everything after "serve", the target first. Runs until SIGTERM; returns the exit
// status (0 stopped, 1 the instrument or the listener failed, 2 bad arguments).
int Serve(int argc, char** argv, const std::vector<std::string>& args);

// ADDR:PORT, ADDR or [V6]:PORT as --listen takes them: IP literals only; port 8066 when
// none is given, 0 for any free port.
bool ParseListen(const std::string& text, std::string& address, int& port);

}  // namespace qvctl
