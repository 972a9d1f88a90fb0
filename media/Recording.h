// A recording folder as the export reads it: its "*.jpg" files in name order (the order the
// replay bar plays them) and the moment each was shown, from its name:
//
//   00000042_235959_500.jpg   recorded frame 42, shown at 23:59:59.500
//   20261207_101530_250.jpg   a frame file
//   QV392B_20261207_101530.jpg  a saved screen (whole seconds)
//
// Times of day only run forward: one earlier than the frame before by more than half a day
// is on the next day (a recording past midnight); a smaller step back is the clock being set
// and the frame follows the one before by a millisecond.
#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

namespace qv::media {

struct RecordingFrame {
    std::string name;     // the file's name in the folder
    std::int64_t ms = 0;  // when it was shown, from the first frame
};

// Without a time in its name, a frame follows the one before by the normal screen period.
inline constexpr std::int64_t kUntimedStepMs = 500;

// The time of day (milliseconds) a name ends with: "_HHMMSS_mmm.jpg" or "_HHMMSS.jpg".
std::optional<std::int64_t> TimeOfDayOfName(std::string_view name);

// The frames' times from their times of day (see above); the first is 0.
std::vector<std::int64_t> FrameTimes(const std::vector<std::optional<std::int64_t>>& timesOfDay);

// The frames of folder. False with error set when it cannot be read or is no folder.
bool ListRecording(const std::string& folder, std::vector<RecordingFrame>& frames,
                   std::string& error);

}  // namespace qv::media
