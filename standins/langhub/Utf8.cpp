#include "Utf8.h"

size_t FindInvalidUtf8(const char* data, size_t size)
{
    const auto* s = reinterpret_cast<const unsigned char*>(data);
    size_t i = 0;
    while (i < size) {
        const unsigned lead = s[i];
        if (lead < 0x80) {
            ++i;
            continue;
        }
        size_t length;
        unsigned long code;
        unsigned long least;
        if (lead >= 0xC2 && lead <= 0xDF) {
            length = 2;
            code = lead & 0x1F;
            least = 0x80;
        } else if (lead >= 0xE0 && lead <= 0xEF) {
            length = 3;
            code = lead & 0x0F;
            least = 0x800;
        } else if (lead >= 0xF0 && lead <= 0xF4) {
            length = 4;
            code = lead & 0x07;
            least = 0x10000;
        } else {
            return i;
        }
        if (length > size - i)
            return i;
        for (size_t k = 1; k < length; ++k) {
            const unsigned next = s[i + k];
            if ((next & 0xC0) != 0x80)
                return i;
            code = (code << 6) | (next & 0x3F);
        }
        if (code < least || code > 0x10FFFF || (code >= 0xD800 && code <= 0xDFFF))
            return i;
        i += length;
    }
    return size;
}
