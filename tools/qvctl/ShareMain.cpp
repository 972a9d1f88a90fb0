// qvctl-share: qvctl serve. qvctl runs this program in its own place with its own arguments
// (the command first), so that its link commands need not load Qt's network modules.
#include <cstdio>
#include <string>
#include <vector>

#include "tools/qvctl/ExitStatus.h"
#include "tools/qvctl/Serve.h"

int main(int argc, char** argv) {
    const std::vector<std::string> args(argv + 1, argv + argc);
    if (!args.empty() && args.front() == "serve") {
        return qvctl::Serve(argc, argv, {args.begin() + 1, args.end()});
    }
    std::fputs("qvctl-share runs qvctl serve; see qvctl --help\n", stderr);
    return qvctl::kExitUsage;
}
