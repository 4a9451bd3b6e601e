// Reads and writes single fields of a named global table of a Lua state
// from host code. Every operation leaves the Lua stack as it found it and
// does nothing when the global is not a table.
//
// The global is looked up through the globals table, and key access goes
// through lua_setfield/lua_gettable, so metamethods apply and run
// unprotected: call from protected code if they may raise. Index access is
// raw.
#pragma once

struct lua_State;

class __attribute__((visibility("default"))) LuaTable_OP {
public:
    LuaTable_OP();
    ~LuaTable_OP();

    // t[key] = value (a number or a string).
    void WriteTableFromKey(lua_State* L, const char* table, const char* key, int value);
    void WriteTableFromKey(lua_State* L, const char* table, const char* key, const char* value);
    // Raw t[index] = value, no metamethod.
    void WriteTableFromIndex(lua_State* L, const char* table, int index, int value);
    void WriteTableFromIndex(lua_State* L, const char* table, int index, const char* value);

    // out = the field as a number truncated toward zero, clamped to the int
    // range; 0 for a value that is not a number.
    void ReadTableFromKey(lua_State* L, const char* table, const char* key, int& out);
    void ReadTableFromIndex(lua_State* L, const char* table, int index, int& out);
    // Copies the field's text (a string, or a number in its text form) with
    // its terminator into out, which must have room for it; out is left
    // unchanged for a field of another type.
    void ReadTableFromKey(lua_State* L, const char* table, const char* key, char* out);
    void ReadTableFromIndex(lua_State* L, const char* table, int index, char* out);
};
