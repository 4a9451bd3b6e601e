// Script binding of the block cipher: Dec_Initial, Dec_Encode, Dec_Decode
// and Dec_UnInitial. Contexts and buffers cross as light userdata; the
// script frees its context itself with Dec_UnInitial. The binding knows the
// contexts it handed out, and checks the blocks against scriptbase.dll's
// live buffers, before the cipher touches memory; a null handle is left to
// the cipher, which refuses it with its code and writes nothing.
#include "BlockCrypt.h"
#include "HandleRegistry.h"
#include "LuaRegister.h"
#include "ScriptArgs.h"

#include <lua.hpp>

namespace {

constexpr size_t kBlockBytes = 16;

// Dec_Initial adds, Dec_UnInitial removes; for the whole process. Never
// destroyed: a script may still run on another thread while the process
// exits.
HandleRegistry& g_contexts = *new HandleRegistry;

// Null, or a live context of Dec_Initial.
void* ArgContext(lua_State* L, const char* fn, int index)
{
    void* ctx = lua_touserdata(L, index);
    if (ctx && (lua_type(L, index) != LUA_TLIGHTUSERDATA || !g_contexts.Contains(ctx)))
        ArgError(L, fn, index, "not a live cipher context from Dec_Initial");
    return ctx;
}

// Null, or 16 bytes of a buffer.
unsigned char* ArgBlock(lua_State* L, const char* fn, int index, const tag_SCRIPT_BUFFERS* buffers)
{
    return lua_touserdata(L, index) ? ArgBytes(L, fn, index, 0, kBlockBytes, buffers) : nullptr;
}

int Crypt(lua_State* L, const char* fn, int (*cipher)(void*, unsigned char*, unsigned char*))
{
    void* ctx = ArgContext(L, fn, 1);
    const tag_SCRIPT_BUFFERS* buffers = ScriptBuffers(L);
    unsigned char* in = ArgBlock(L, fn, 2, buffers);
    // Blocks are mostly worked in place: the same 16 bytes need no second look.
    unsigned char* out = in && lua_touserdata(L, 3) == in ? in : ArgBlock(L, fn, 3, buffers);
    cipher(ctx, in, out);
    return 1;
}

} // namespace

// Dec_Initial(key, len) -> context (a null light userdata on failure)
VEMORA_EXPORT int l_Initial(lua_State* L)
{
    auto* key = static_cast<unsigned char*>(lua_touserdata(L, 1));
    const lua_Integer len = lua_tointeger(L, 2);
    // A length beyond unsigned int must not wrap into the accepted range.
    const unsigned int keyLength
        = len > 0 && len <= 0xFFFFFFFF ? static_cast<unsigned int>(len) : 0;
    // Initial refuses a null key or a length outside 1..32 unread; else it
    // reads keyLength bytes, which must be in the buffer.
    const size_t read = keyLength <= RC6_MAX_KEY_BYTES ? keyLength : 0;
    if (key)
        key = ArgBytes(L, "Dec_Initial", 1, 0, read, ScriptBuffers(L));
    void* ctx = Initial(key, keyLength);
    // No room to record it counts as memory running out: the null context.
    if (ctx && !g_contexts.Add(ctx, 0)) {
        UnInitial(ctx);
        ctx = nullptr;
    }
    lua_pushlightuserdata(L, ctx);
    return 1;
}

// Dec_Encode(ctx, in, out) -> out; a refused call leaves out unwritten.
VEMORA_EXPORT int l_Encode(lua_State* L)
{
    return Crypt(L, "Dec_Encode", Encode);
}

// Dec_Decode(ctx, in, out) -> out
VEMORA_EXPORT int l_Decode(lua_State* L)
{
    return Crypt(L, "Dec_Decode", Decode);
}

// Dec_UnInitial(ctx) -> the freed handle, which names nothing any more.
VEMORA_EXPORT int l_UnInitial(lua_State* L)
{
    void* ctx = lua_touserdata(L, 1);
    // Forgotten first: of two threads freeing one context, one frees it.
    if (ctx && (lua_type(L, 1) != LUA_TLIGHTUSERDATA || !g_contexts.Remove(ctx)))
        ArgError(
            L, "Dec_UnInitial", 1, "not a live cipher context from Dec_Initial, or freed already");
    UnInitial(ctx);
    return 1;
}

namespace {

const luaL_Reg kFunctions[] = {
    {"Dec_Initial", l_Initial},
    {"Dec_Encode", l_Encode},
    {"Dec_Decode", l_Decode},
    {"Dec_UnInitial", l_UnInitial},
    {nullptr, nullptr},
};

} // namespace

// Entry for package.loadlib: stores the four functions as globals.
VEMORA_EXPORT int l_RegAllFun(lua_State* L)
{
    RegisterGlobals(L, kFunctions);
    return 1;
}
