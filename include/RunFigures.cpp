#include "RunFigures.h"

#include <algorithm>
#include <cstdio>

std::string ElapsedText(int64_t ms)
{
    const long long seconds = std::max<int64_t>(ms, 0) / 1000;
    char text[32];
    if (seconds < 3600)
        std::snprintf(text, sizeof text, "%lld:%02lld", seconds / 60, seconds % 60);
    else
        std::snprintf(text, sizeof text, "%lld:%02lld:%02lld", seconds / 3600, seconds / 60 % 60,
            seconds % 60);
    return text;
}

std::string RateText(int64_t imageBytes, int percent, int64_t ms)
{
    if (imageBytes <= 0 || percent <= 0 || ms <= 0)
        return std::string();
    const double bytesPerSecond
        = double(imageBytes) * std::min(percent, 100) / 100.0 * 1000.0 / double(ms);
    char text[32];
    if (bytesPerSecond >= 1e6)
        std::snprintf(text, sizeof text, "%.1f MB/s", bytesPerSecond / 1e6);
    else if (bytesPerSecond >= 1e3)
        std::snprintf(text, sizeof text, "%.0f kB/s", bytesPerSecond / 1e3);
    else
        std::snprintf(text, sizeof text, "%.0f B/s", bytesPerSecond);
    return text;
}
