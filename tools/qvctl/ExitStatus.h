// qvctl's exit status, the same for every command.
#pragma once

namespace qvctl {

inline constexpr int kExitOk = 0;
inline constexpr int kExitFailed = 1;
inline constexpr int kExitUsage = 2;

}  // namespace qvctl
