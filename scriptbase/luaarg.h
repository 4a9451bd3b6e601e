// How every script function of this library reads its arguments. Errors are
// raised through Lua (longjmp), so callers use these before any object with a
// destructor exists.
#pragma once

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
int32_t ArgCount(lua_State* L, int index);

// The address behind a light or full userdata; raises an argument error
// for a null address (nil, numbers, a failed allocation's handle).
unsigned char* ArgBuffer(lua_State* L, int index);
// The same for work on `count` bytes there: a null address is refused only
// when count is above 0, since work on no bytes touches no memory (the
// caller then makes no call with the null address).
unsigned char* ArgBuffer(lua_State* L, int index, size_t count);

// A path, or null for nil (or none): the calls that take a path then answer
// as for one that cannot be opened or found. Other values but strings and
// numbers raise an argument error.
const char* ArgPath(lua_State* L, int index);
