// serve (Qt's network modules) and export and record (FFmpeg) run in programs of their own,
// which qvctl becomes for those commands: the link commands then start without mapping and
// relocating those libraries.
#pragma once

#include <string_view>

namespace qvctl {

// The program that runs command ("qvctl-share", "qvctl-media"), or nullptr for qvctl's own.
const char* HelperFor(std::string_view command);

// Replaces this process with helper, argv unchanged, so that its output, exit status and
// signals are the command's own. Looks beside this program (a build tree), then in the
// installed private folder relative to it; never the PATH or the current directory. Returns
// only when it cannot: the exit status, after saying why.
int ExecHelper(const char* helper, char** argv);

}  // namespace qvctl
