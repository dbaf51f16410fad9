// The exit statuses every program of the kit ends with, and what each means.
#pragma once

namespace tool_common {

inline constexpr int kExitOk = 0;           // every result right, every file written
inline constexpr int kExitDiffers = 1;      // a result failed its check, or none came
inline constexpr int kExitRefused = 2;      // bad input or output place, refused before any work
inline constexpr int kExitWriteFailed = 3;  // an output could not be written after the run

}  // namespace tool_common
