// Argument errors and buffer arguments shared by the script libraries. Every
// error names the function itself (debug information does not know the
// name of a function called through pcall) and is raised through Lua
// (longjmp): callers use these before any object with a destructor exists.
#pragma once

#include "ScriptBuffers.h"

#include <cstddef>
#include <cstdint>
#include <lua.hpp>

// Raises "bad argument #index to 'fn' (text)", text made from format.
[[noreturn]] void ArgError(lua_State* L, const char* fn, int index, const char* format, ...)
    __attribute__((format(printf, 4, 5)));

// The record scriptbase.dll left in L (see ScriptBuffers.h), or null when
// its buffer functions were never registered there.
const tag_SCRIPT_BUFFERS* ScriptBuffers(lua_State* L);

// The address `offset` bytes past the buffer handle at index, checked to
// hold `count` bytes inside the buffer the handle points into; an error
// names what was wrong. A light userdata must point into a live buffer that
// `buffers` knows (none when null). A full userdata without a metatable is
// a buffer of its own size; one with a metatable belongs to another library
// (Lua's files, for one) and is refused. A null handle (nil, numbers, the
// handle of a failed allocation) is refused unless count is 0: work on no
// bytes touches no memory, and the caller gets null back.
unsigned char* ArgBytes(lua_State* L, const char* fn, int index, int64_t offset, size_t count,
    const tag_SCRIPT_BUFFERS* buffers);
