// How every script function of this library reads its arguments. Errors
// name the function (fn, its script name) and are raised through Lua
// (longjmp), so callers use these before any object with a destructor exists.
#pragma once

#include "ScriptArgs.h"

#include <cstddef>
#include <cstdint>
#include <lua.hpp>

// Truncated toward zero; NaN reads as 0 and values beyond the 64-bit range
// saturate, so no conversion is undefined.
int64_t ArgInt64(lua_State* L, int index);

// The number truncated toward zero and cut to its low 32 bits.
int32_t ArgInt32(lua_State* L, int index);
uint32_t ArgUInt32(lua_State* L, int index);

// A byte count: cut to 32 bits like ArgInt32; a negative count raises an
// argument error instead of turning into a huge size.
int32_t ArgCount(lua_State* L, const char* fn, int index);

// The address offset bytes past the buffer handle at index, checked to hold
// count bytes of a live buffer of this library (ArgBytes): a freed or
// foreign handle, or a range outside the buffer, raises an error. A null
// handle is refused unless count is 0; the caller then gets null and makes
// no call with it.
unsigned char* ArgBuffer(lua_State* L, const char* fn, int index, int64_t offset, size_t count);

// A text (a string, or a number as Lua turns it into one); length may be null.
const char* ArgString(lua_State* L, const char* fn, int index, size_t* length = nullptr);

// A path, or null for nil (or none): the calls that take a path then answer
// as for one that cannot be opened or found. Other values but strings and
// numbers raise an argument error.
const char* ArgPath(lua_State* L, const char* fn, int index);
