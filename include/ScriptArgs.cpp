#include "ScriptArgs.h"

#include <cinttypes>
#include <cstdarg>
#include <cstdio>

void ArgError(lua_State* L, const char* fn, int index, const char* format, ...)
{
    char text[256];
    va_list args;
    va_start(args, format);
    std::vsnprintf(text, sizeof text, format, args);
    va_end(args);
    luaL_error(L, "bad argument #%d to '%s' (%s)", index, fn, text);
    __builtin_unreachable();
}

const tag_SCRIPT_BUFFERS* ScriptBuffers(lua_State* L)
{
    lua_pushlightuserdata(L, ScriptBuffersKey());
    lua_rawget(L, LUA_REGISTRYINDEX);
    const auto* buffers = static_cast<const tag_SCRIPT_BUFFERS*>(lua_touserdata(L, -1));
    lua_pop(L, 1);
    return buffers;
}

unsigned char* ArgBytes(lua_State* L, const char* fn, int index, int64_t offset, size_t count,
    const tag_SCRIPT_BUFFERS* buffers)
{
    auto* p = static_cast<unsigned char*>(lua_touserdata(L, index));
    if (!p) {
        if (count == 0)
            return nullptr;
        ArgError(L, fn, index, "buffer handle is null");
    }
    unsigned char* start = p;
    size_t size = 0;
    // A full userdata is Lua's own block, never inside a buffer: asking the
    // buffers first spares the common case a call.
    if (!buffers || !buffers->Find(p, &start, &size)) {
        if (lua_type(L, index) != LUA_TUSERDATA)
            ArgError(L, fn, index, "not a live buffer from MallocBuffer");
        if (lua_getmetatable(L, index))
            ArgError(L, fn, index, "a userdata of another library, not a buffer");
        start = p;
        size = lua_objlen(L, index);
    }
    // Buffers are far smaller than 2^63 bytes: none of this overflows.
    const int64_t first = static_cast<int64_t>(p - start) + offset;
    const auto length = static_cast<int64_t>(size);
    if (first < 0 || first > length)
        ArgError(L, fn, index, "byte %" PRId64 " is outside its %zu-byte buffer", first, size);
    if (count > static_cast<uint64_t>(length - first)) {
        if (first == 0)
            ArgError(
                L, fn, index, "%zu-byte range passes the end of its %zu-byte buffer", count, size);
        ArgError(L, fn, index,
            "%zu-byte range from byte %" PRId64 " passes the end of its %zu-byte buffer", count,
            first, size);
    }
    return start + first;
}
