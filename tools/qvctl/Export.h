// qvctl export FOLDER OUT.mkv|OUT.mp4 [--force]: a recording folder to a video file.
// qvctl record TARGET OUT.mkv|OUT.mp4 [--seconds N] [--rate normal|responsive|fast] [--force]
// [--ipv6]: an instrument's screen straight to a video file.
#pragma once

#include <string>
#include <vector>

namespace qvctl {

// args: the words after the program's name, "export" first. Returns the exit status.
int RunExport(const std::vector<std::string>& args);
// args as for RunExport ("record" first); argc and argv for the application object.
int RunRecord(int argc, char** argv, const std::vector<std::string>& args);

}  // namespace qvctl
