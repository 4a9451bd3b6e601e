#include "PluginWiring.h"

#include "ModulePath.h"

#include <cstdio>
#include <dlfcn.h>

namespace {

// Never closed: the plug-ins' interfaces live as long as the process.
void* g_hPluginCenter = nullptr;
tag_PLUGIN_MAN* g_pPluginMan = nullptr;

} // namespace

tag_PLUGIN_MAN* OpenPluginCenter()
{
    char path[MAX_PATH_LEN];
    // Without the program's own path there is no directory to load from (the
    // reason is logged); nothing is loaded from elsewhere.
    if (GetModuleRelPath("pluginhub.dll", path) < 0) {
        std::fprintf(stderr, "LoadPluginCenter Error\n");
        return nullptr;
    }
    std::printf("library file path: %s\n", path);
    g_hPluginCenter = dlopen(path, RTLD_LAZY);
    if (!g_hPluginCenter) {
        const char* error = dlerror();
        std::printf("%s\n", error ? error : "dlopen failed");
        std::fprintf(stderr, "LoadPluginCenter Error\n");
        return nullptr;
    }
    const auto getPluginMan
        = reinterpret_cast<PFN_GetPluginMan>(dlsym(g_hPluginCenter, "GetPluginMan"));
    g_pPluginMan = getPluginMan ? getPluginMan() : nullptr;
    return g_pPluginMan;
}

void* ObtainInterface(
    tag_PLUGIN_MAN& manager, PluginLoadInfo& record, const char* guid, const char* fileName)
{
    // A record that could not be filled stays zeroed: the center refuses it
    // and has no interface for it.
    MakePluginLoadInfo(&record, guid, fileName);
    manager.LoadPlugin(&record);
    return manager.GetPluginInterface(record.szGuid);
}
