// qvctl-media: qvctl export and qvctl record. qvctl runs this program in its own place with
// its own arguments (the command first), so that its link commands need not load FFmpeg.
#include <cstdio>
#include <string>
#include <vector>

#include "tools/qvctl/ExitStatus.h"
#include "tools/qvctl/Export.h"

int main(int argc, char** argv) {
    const std::vector<std::string> args(argv + 1, argv + argc);
    if (!args.empty() && args.front() == "export") {
        return qvctl::RunExport(args);
    }
    if (!args.empty() && args.front() == "record") {
        return qvctl::RunRecord(argc, argv, args);
    }
    std::fputs("qvctl-media runs qvctl export and qvctl record; see qvctl --help\n", stderr);
    return qvctl::kExitUsage;
}
