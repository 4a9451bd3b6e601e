#include "PlgApi.h"

#include <dlfcn.h>

#include <cstdio>
#include <cstdlib>

namespace {

template <typename T> void Resolve(void* handle, T& slot, const char* name)
{
    void* symbol = dlsym(handle, name);
    if (!symbol) {
        std::fprintf(stderr, "VemoProc.Plg does not export %s\n", name);
        std::exit(1);
    }
    slot = reinterpret_cast<T>(symbol);
}

PlgApi Open()
{
    PlgApi api {};
    api.handle = dlopen(PlgPath(), RTLD_NOW | RTLD_LOCAL);
    if (!api.handle) {
        std::fprintf(stderr, "dlopen %s: %s\n", PlgPath(), dlerror());
        std::exit(1);
    }
    void* h = api.handle;
    Resolve(h, api.InitVemoProc, "InitVemoProc");
    Resolve(h, api.MsgCallBack, "MsgCallBack");
    Resolve(h, api.l_ToolMsgCallBack, "l_ToolMsgCallBack");
    Resolve(h, api.l_ToolMessageBox, "l_ToolMessageBox");
    Resolve(h, api.l_ToolsSuspend, "l_ToolsSuspend");

    Resolve(h, api.g_LuaToolIF, "_ZN12LUA_TOOL_FEX11g_LuaToolIFE");
    Resolve(h, api.g_pToolLuaState, "_ZN12LUA_TOOL_FEX15g_pToolLuaStateE");
    Resolve(h, api.InitToolIF, "_ZN12LUA_TOOL_FEX10InitToolIFEP9lua_State");
    Resolve(h, api.Init, "_ZN12LUA_TOOL_FEX4InitEP9lua_StatePK19_tag_TOOL_INIT_PARA");
    Resolve(h, api.Exit, "_ZN12LUA_TOOL_FEX4ExitEP9lua_StatePK19_tag_TOOL_INIT_PARA");
    Resolve(
        h, api.entry_fel2fes, "_ZN12LUA_TOOL_FEX13entry_fel2fesEP9lua_StatePK17_tag_TOOL_FELPARA");
    Resolve(h, api.entry_fes_thread,
        "_ZN12LUA_TOOL_FEX16entry_fes_threadEP9lua_StatePK17_tag_TOOL_FESPARA");

    Resolve(h, api.WriteKeyInt, "_ZN11LuaTable_OP17WriteTableFromKeyEP9lua_StatePKcS3_i");
    Resolve(h, api.WriteKeyText, "_ZN11LuaTable_OP17WriteTableFromKeyEP9lua_StatePKcS3_S3_");
    Resolve(h, api.WriteIndexInt, "_ZN11LuaTable_OP19WriteTableFromIndexEP9lua_StatePKcii");
    Resolve(h, api.WriteIndexText, "_ZN11LuaTable_OP19WriteTableFromIndexEP9lua_StatePKciS3_");
    Resolve(h, api.ReadKeyInt, "_ZN11LuaTable_OP16ReadTableFromKeyEP9lua_StatePKcS3_Ri");
    Resolve(h, api.ReadIndexInt, "_ZN11LuaTable_OP18ReadTableFromIndexEP9lua_StatePKciRi");
    Resolve(h, api.ReadKeyText, "_ZN11LuaTable_OP16ReadTableFromKeyEP9lua_StatePKcS3_Pc");
    Resolve(h, api.ReadIndexText, "_ZN11LuaTable_OP18ReadTableFromIndexEP9lua_StatePKciPc");

    Resolve(h, api.ImageCtor, "_ZN9KoraImageC1Ev");
    Resolve(h, api.ImageDtor, "_ZN9KoraImageD1Ev");
    Resolve(h, api.SetModuleDir, "_ZN9KoraImage12SetModuleDirEPKc");
    Resolve(h, api.SetImagePath, "_ZN9KoraImage12SetImagePathEPKc");
    Resolve(h, api.GetImagePath, "_ZN9KoraImage12GetImagePathEv");
    Resolve(h, api.GetLuaState, "_ZN9KoraImage11GetLuaStateEv");
    Resolve(h, api.GetToolIF, "_ZN9KoraImage9GetToolIFEv");
    Resolve(h, api.GetImageSize, "_ZN9KoraImage12GetImageSizeEv");
    Resolve(h, api.GetLuaInstant, "_ZN9KoraImage13GetLuaInstantEv");
    Resolve(h, api.CloseLua, "_ZN9KoraImage8CloseLuaEv");
    Resolve(h, api.LoadTools, "_ZN9KoraImage9LoadToolsEv");
    Resolve(h, api.GetToolsFromImage, "_ZN9KoraImage17GetToolsFromImageEPKcS1_");
    Resolve(h, api.LoadToolsPlug, "_ZN9KoraImage13LoadToolsPlugEv");
    Resolve(h, api.UnLoadTools, "_ZN9KoraImage11UnLoadToolsEv");
    Resolve(h, api.RemoveTools, "_ZN9KoraImage11RemoveToolsEv");
    return api;
}

} // namespace

const char* PlgPath()
{
    return VEMORA_BIN_DIR "/VemoProc.Plg";
}

const PlgApi& Plg()
{
    static const PlgApi api = Open();
    return api;
}

ImageObject::ImageObject()
{
    Plg().ImageCtor(get());
}

ImageObject::~ImageObject()
{
    Plg().ImageDtor(get());
}
