// Figures of a flashing run as both programs show them: elapsed time and the
// write rate. The plug-in reports no byte counts, so the bytes written so far
// are estimated as the image file's size times the progress percentage.
#pragma once

#include <cstdint>
#include <string>

// "m:ss", or "h:mm:ss" from an hour on.
std::string ElapsedText(int64_t ms);

// "5.0 MB/s", "100 kB/s", "12 B/s"; empty while it cannot be told (no image
// size, no progress yet, no time gone).
std::string RateText(int64_t imageBytes, int percent, int64_t ms);
