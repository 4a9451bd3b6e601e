// How the other script libraries check a buffer handle of scriptbase.dll
// that a script hands them (blockcrypt.dll's key, input and output blocks).
// The buffers are scriptbase.dll's: its RegBuferFun leaves this record in
// the Lua state's registry, as a light userdata under ScriptBuffersKey(), and
// another library looks it up in the state of the call. The record is static
// in scriptbase.dll, which the state keeps loaded for as long as it lives.
#pragma once

#include <cstddef>
#include <cstdint>

// The registry key: a light userdata both libraries know. A value in the
// kernel's half of the address space, so no address of the process (another
// library's key) can be equal to it; looking it up costs one hash probe,
// where a string key is interned again on every call.
inline void* ScriptBuffersKey()
{
    return reinterpret_cast<void*>(static_cast<uintptr_t>(0xFFFFFFFF5C1B0FF5u));
}

struct tag_SCRIPT_BUFFERS {
    // 1 with the start and size of the live buffer that holds address
    // (start <= address <= start + size), 0 when no live buffer does.
    int (*Find)(const void* address, unsigned char** start, size_t* size);
};
