#include "progresstext.h"

#include <cstdio>
#include <cstring>

namespace {

constexpr size_t kLineSize = 256;
constexpr char kEllipsis[] = "...";

} // namespace

QString ProgressLine(unsigned int percent, const char* text)
{
    const int value = static_cast<int>(percent);
    char suffix[32];
    const int suffixLength = std::snprintf(suffix, sizeof suffix, "  %d%%", value);
    // Room for the text: the line less its leading space, the suffix and the
    // terminator.
    const size_t room = kLineSize - 1 - static_cast<size_t>(suffixLength) - 1;
    const char* shown = text ? text : "";
    const size_t length = strnlen(shown, room + 1);

    char line[kLineSize];
    if (length <= room) {
        std::snprintf(line, sizeof line, " %s%s", shown, suffix);
    } else {
        const int kept = static_cast<int>(room - (sizeof kEllipsis - 1));
        std::snprintf(line, sizeof line, " %.*s%s%s", kept, shown, kEllipsis, suffix);
    }
    return QString::fromLatin1(line);
}
