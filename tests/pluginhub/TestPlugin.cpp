// A test plug-in: hands out a fresh interface for every GUID it is asked
// for, remembering the GUID text it received. TEST_PLUGIN_NAME tells the
// files built from this source apart.
#include "TestPlugin.h"
#include "Export.h"

#include <atomic>
#include <cstring>

namespace {

std::atomic<int> g_calls {0};

int Calls()
{
    return g_calls.load();
}

TestPluginIf g_interfaces[32];

} // namespace

VEMORA_EXPORT void* GetInterface(void* guid)
{
    const int slot = g_calls.fetch_add(1);
    if (slot >= static_cast<int>(sizeof g_interfaces / sizeof g_interfaces[0]))
        return nullptr;
    TestPluginIf& iface = g_interfaces[slot];
    iface.name = TEST_PLUGIN_NAME;
    std::strncpy(iface.guid, static_cast<const char*>(guid), sizeof iface.guid - 1);
    iface.kept = static_cast<const char*>(guid);
    iface.Calls = Calls;
    return &iface;
}
