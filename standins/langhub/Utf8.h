// UTF-8 checking for the language file.
#pragma once

#include <cstddef>

// Offset of the first byte of data[0..size) that does not start a well-formed
// UTF-8 sequence (truncated, overlong, surrogate, beyond U+10FFFF), or size
// when all of it is well-formed.
size_t FindInvalidUtf8(const char* data, size_t size);
