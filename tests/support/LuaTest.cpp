#include "LuaTest.h"

lua_State* NewLua()
{
    lua_State* L = luaL_newstate();
    luaL_openlibs(L);
    return L;
}

std::string RunLua(lua_State* L, const std::string& chunk)
{
    if (luaL_loadstring(L, chunk.c_str()) != 0 || lua_pcall(L, 0, 0, 0) != 0) {
        std::string error = lua_tostring(L, -1);
        lua_pop(L, 1);
        return error;
    }
    return "";
}

std::string GlobalText(lua_State* L, const char* name)
{
    lua_getglobal(L, "tostring");
    lua_getglobal(L, name);
    lua_call(L, 1, 1);
    std::string text = lua_tostring(L, -1);
    lua_pop(L, 1);
    return text == "nil" ? "" : text;
}

void LuaTest::SetUp()
{
    L = NewLua();
    lua_pushstring(L, USBWIRE_DLL);
    lua_setglobal(L, "USBWIRE");
    lua_pushstring(L, SCRIPTBASE_DLL);
    lua_setglobal(L, "SCRIPTBASE");
}

void LuaTest::TearDown()
{
    if (L)
        lua_close(L);
    L = nullptr;
}
