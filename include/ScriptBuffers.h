// How the other script libraries check a buffer handle of scriptbase.dll
// that a script hands them (blockcrypt.dll's key, input and output blocks).
// The buffers are scriptbase.dll's: its RegBuferFun leaves this record in
// the Lua state's registry, as a light userdata under SCRIPT_BUFFERS_KEY, and
// another library looks it up in the state of the call. The record is static
// in scriptbase.dll, which the state keeps loaded for as long as it lives.
#pragma once

#include <cstddef>

#define SCRIPT_BUFFERS_KEY "scriptbase.dll buffers"

struct tag_SCRIPT_BUFFERS {
    // 1 with the start and size of the live buffer that holds address
    // (start <= address <= start + size), 0 when no live buffer does.
    int (*Find)(const void* address, unsigned char** start, size_t* size);
};
