#include "PyrraDebug.h"

#include <climits>
#include <cstdarg>
#include <cstdio>
#include <cstdlib>

namespace {

enum class Sink { Out, Err };

int WriteFormatted(Sink sink, const char* format, va_list args)
{
    int size = 512;
    char* buffer = static_cast<char*>(std::malloc(size));
    if (!buffer)
        return 0;
    for (;;) {
        va_list attempt;
        va_copy(attempt, args);
        const int n = std::vsnprintf(buffer, size, format, attempt);
        va_end(attempt);
        if (n >= 0 && n < size)
            break;
        // A negative result gives no size hint (old C libraries): double,
        // but a format that never prints (an unconvertible wide character)
        // is dropped before the size overflows.
        if (n < 0 && size > INT_MAX / 2) {
            std::free(buffer);
            return 0;
        }
        size = n < 0 ? size * 2 : n + 1;
        char* grown = static_cast<char*>(std::realloc(buffer, size));
        if (!grown) {
            std::free(buffer);
            return 0;
        }
        buffer = grown;
    }
    if (sink == Sink::Out)
        std::printf("%s", buffer);
    else
        std::fputs(buffer, stderr);
    std::free(buffer);
    return size;
}

} // namespace

int PyrraDebug::DebugMsg(const char* format, ...)
{
    va_list args;
    va_start(args, format);
    const int result = WriteFormatted(Sink::Out, format, args);
    va_end(args);
    return result;
}

int PyrraDebug::DebugErr(const char* format, ...)
{
    va_list args;
    va_start(args, format);
    const int result = WriteFormatted(Sink::Err, format, args);
    va_end(args);
    return result;
}
