// A second library that reaches the plug-in center on its own, as the
// process plug-in does: LoadPluginCenter, then GetPluginInterface.
#include "Export.h"
#include "ModulePath.h"

VEMORA_EXPORT void* ClientLookUp(const char* guid)
{
    static void* handle = nullptr;
    static tag_PLUGIN_MAN* manager = LoadPluginCenter(&handle);
    return manager ? manager->GetPluginInterface(guid) : nullptr;
}
