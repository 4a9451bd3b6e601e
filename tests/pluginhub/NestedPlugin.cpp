// A test plug-in whose GetInterface loads another plug-in through the
// center first, as a plug-in that needs a transport would. Loaded under
// "nested-same", it has testplug_b.dll loaded under that very GUID and then
// hands out an interface of its own.
#include "Export.h"
#include "ModulePath.h"

#include <cstring>

namespace {

int g_own; // the interface handed out under "nested-same"

} // namespace

VEMORA_EXPORT void* GetInterface(void* guid)
{
    const bool same = std::strcmp(static_cast<const char*>(guid), "nested-same") == 0;
    const char* inner = same ? "nested-same" : "nested-inner";
    void* handle = nullptr;
    tag_PLUGIN_MAN* manager = LoadPluginCenter(&handle);
    if (!manager) {
        CloseModule(handle);
        return nullptr;
    }
    PluginLoadInfo info;
    void* iface = nullptr;
    if (MakePluginLoadInfo(&info, inner, "testplug_b.dll") == 0) {
        manager->LoadPlugin(&info);
        iface = manager->GetPluginInterface(inner);
    }
    CloseModule(handle);
    return same ? &g_own : iface;
}
