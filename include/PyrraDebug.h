// The debug log of every library: DebugMsg to standard output, DebugErr to
// standard error. Formats carry their own "\n" where they want one.
#pragma once

class PyrraDebug {
public:
    // Both return the size of the buffer the text was formatted in (512 for
    // every message shorter than 512 bytes), or 0 when memory ran out and
    // nothing was printed.
    static int DebugMsg(const char* format, ...) __attribute__((format(printf, 1, 2)));
    static int DebugErr(const char* format, ...) __attribute__((format(printf, 1, 2)));
};
