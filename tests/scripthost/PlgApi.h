// The script-host side of "VemoProc.Plg" as a caller sees it: the library
// opened with dlopen from build/bin and every entry resolved by its exported
// name (C++ members by their mangled names, called with the object first).
#pragma once

#include <lua.hpp>

#include "VemoProc.h"
#include "image/KoraImage.h"
#include "tools/ToolIF.h"

class LuaTable_OP;

struct PlgApi {
    void* handle;

    int (*InitVemoProc)(void*, VemoCallbackFun);
    void* (*MsgCallBack)(unsigned int, int, const char*);
    lua_CFunction l_ToolMsgCallBack;
    lua_CFunction l_ToolMessageBox;
    lua_CFunction l_ToolsSuspend;

    _tag_TOOL_IF* g_LuaToolIF;
    lua_State** g_pToolLuaState;
    _tag_TOOL_IF* (*InitToolIF)(lua_State*);
    unsigned int (*Init)(lua_State*, const _tag_TOOL_INIT_PARA*);
    unsigned int (*Exit)(lua_State*, const _tag_TOOL_INIT_PARA*);
    unsigned int (*entry_fel2fes)(lua_State*, const _tag_TOOL_FELPARA*);
    unsigned int (*entry_fes_thread)(lua_State*, const _tag_TOOL_FESPARA*);

    void (*WriteKeyInt)(LuaTable_OP*, lua_State*, const char*, const char*, int);
    void (*WriteKeyText)(LuaTable_OP*, lua_State*, const char*, const char*, const char*);
    void (*WriteIndexInt)(LuaTable_OP*, lua_State*, const char*, int, int);
    void (*WriteIndexText)(LuaTable_OP*, lua_State*, const char*, int, const char*);
    void (*ReadKeyInt)(LuaTable_OP*, lua_State*, const char*, const char*, int&);
    void (*ReadIndexInt)(LuaTable_OP*, lua_State*, const char*, int, int&);
    void (*ReadKeyText)(LuaTable_OP*, lua_State*, const char*, const char*, char*);
    void (*ReadIndexText)(LuaTable_OP*, lua_State*, const char*, int, char*);

    void (*ImageCtor)(KoraImage*);
    void (*ImageDtor)(KoraImage*);
    unsigned int (*SetModuleDir)(KoraImage*, const char*);
    unsigned int (*SetImagePath)(KoraImage*, const char*);
    const char* (*GetImagePath)(KoraImage*);
    lua_State* (*GetLuaState)(KoraImage*);
    _tag_TOOL_IF* (*GetToolIF)(KoraImage*);
    unsigned int (*GetImageSize)(KoraImage*);
    lua_State* (*GetLuaInstant)(KoraImage*);
    unsigned int (*CloseLua)(KoraImage*);
    unsigned int (*LoadTools)(KoraImage*);
    unsigned int (*GetToolsFromImage)(KoraImage*, const char*, const char*);
    unsigned int (*LoadToolsPlug)(KoraImage*);
    unsigned int (*UnLoadTools)(KoraImage*);
    void (*RemoveTools)(KoraImage*);
};

// Opens the library once per process; fails the test when a name is missing.
const PlgApi& Plg();

// Path of the built library.
const char* PlgPath();

// A KoraImage of the library, built in place and destroyed at scope end.
class ImageObject {
public:
    ImageObject();
    ~ImageObject();
    ImageObject(const ImageObject&) = delete;
    ImageObject& operator=(const ImageObject&) = delete;
    KoraImage* get() { return reinterpret_cast<KoraImage*>(m_storage); }

private:
    alignas(KoraImage) unsigned char m_storage[sizeof(KoraImage)];
};
