// A plug-in center that has no manager to give.
#include "Export.h"
#include "PluginCenter.h"

VEMORA_EXPORT tag_PLUGIN_MAN* GetPluginMan()
{
    return nullptr;
}
