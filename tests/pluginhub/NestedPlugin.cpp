// A test plug-in whose GetInterface loads another plug-in through the
// center first, as a plug-in that needs a transport would.
#include "Export.h"
#include "ModulePath.h"

VEMORA_EXPORT void* GetInterface(void*)
{
    void* handle = nullptr;
    tag_PLUGIN_MAN* manager = LoadPluginCenter(&handle);
    if (!manager) {
        CloseModule(handle);
        return nullptr;
    }
    PluginLoadInfo inner;
    void* iface = nullptr;
    if (MakePluginLoadInfo(&inner, "nested-inner", "testplug_b.dll") == 0) {
        manager->LoadPlugin(&inner);
        iface = manager->GetPluginInterface("nested-inner");
    }
    CloseModule(handle);
    return iface;
}
