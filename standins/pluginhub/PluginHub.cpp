// The plug-in center "pluginhub.dll": loads plug-in files by path, asks each
// for its interface under a GUID, and hands the interfaces out by GUID.
// One manager per process; plug-ins are never unloaded, so their interfaces
// stay valid for the life of the process.
#include "Export.h"
#include "PluginCenter.h"
#include "PyrraDebug.h"

#include <cstring>
#include <dlfcn.h>
#include <exception>
#include <map>
#include <mutex>
#include <new>
#include <set>
#include <string>

namespace {

// Results of LoadPlugin.
enum LoadResult {
    kLoaded = 0,
    kNoRecord = 1,
    kGuidUnterminated = 2,
    kPathUnterminated = 3,
    kGuidEmpty = 4,
    kPathEmpty = 5,
    kGuidTaken = 6,
    kOpenFailed = 7,
    kNoGetInterface = 8,
    kNoInterface = 9,
    kFailed = 10,
    kGuidTakenWhileLoading = 11, // a load nested in GetInterface took the GUID
};

struct Plugin {
    std::string path;
    void* iface;
};

struct Hub {
    // Recursive: a plug-in's constructors or GetInterface may themselves load
    // further plug-ins through the center on the same thread.
    std::recursive_mutex lock;
    // Looked up by the caller's text as it is, without a copy.
    std::map<std::string, Plugin, std::less<>> byGuid;
    std::map<std::string, void*> libraries; // path -> dlopen handle
    // Every GUID text a load was asked for, once: a plug-in may keep the text
    // its GetInterface is given, so it lives as long as the process.
    std::set<std::string, std::less<>> guidTexts;
};

// Never destroyed: plug-ins may still reach the center while the process
// runs its static destructors. Built in static storage, so reaching it
// allocates nothing.
Hub& TheHub()
{
    alignas(Hub) static unsigned char storage[sizeof(Hub)];
    static Hub* hub = new (storage) Hub;
    return *hub;
}

bool Terminated(const char* field, size_t size)
{
    return std::memchr(field, 0, size) != nullptr;
}

// The library at path, loaded on first use.
void* Library(Hub& hub, const std::string& path)
{
    const auto known = hub.libraries.find(path);
    if (known != hub.libraries.end())
        return known->second;
    void* handle = dlopen(path.c_str(), RTLD_NOW);
    if (!handle) {
        PyrraDebug::DebugErr("pluginhub: cannot load %s: %s\n", path.c_str(), dlerror());
        return nullptr;
    }
    hub.libraries[path] = handle;
    return handle;
}

int Load(const PluginLoadInfo* info)
{
    if (!info) {
        PyrraDebug::DebugErr("pluginhub: LoadPlugin without a record\n");
        return kNoRecord;
    }
    if (!Terminated(info->szGuid, sizeof info->szGuid)) {
        PyrraDebug::DebugErr("pluginhub: plug-in GUID is not terminated within its %zu bytes\n",
            sizeof info->szGuid);
        return kGuidUnterminated;
    }
    if (!Terminated(info->szPath, sizeof info->szPath)) {
        PyrraDebug::DebugErr(
            "pluginhub: path of plug-in %s is not terminated within its %zu bytes\n", info->szGuid,
            sizeof info->szPath);
        return kPathUnterminated;
    }
    if (!info->szGuid[0]) {
        PyrraDebug::DebugErr("pluginhub: plug-in %s has an empty GUID\n", info->szPath);
        return kGuidEmpty;
    }
    if (!info->szPath[0]) {
        PyrraDebug::DebugErr("pluginhub: plug-in %s has an empty path\n", info->szGuid);
        return kPathEmpty;
    }

    // Own copies, so the caller's record is not touched; the GUID text is
    // the center's for the life of the process.
    const std::string path = info->szPath;
    Hub& hub = TheHub();
    const std::lock_guard<std::recursive_mutex> hold(hub.lock);
    auto text = hub.guidTexts.find(info->szGuid);
    if (text == hub.guidTexts.end())
        text = hub.guidTexts.emplace(info->szGuid).first;
    const char* const guid = text->c_str();

    const auto known = hub.byGuid.find(guid);
    if (known != hub.byGuid.end()) {
        if (known->second.path == path)
            return kLoaded;
        PyrraDebug::DebugErr("pluginhub: plug-in %s is already served by %s, not loading %s\n",
            guid, known->second.path.c_str(), path.c_str());
        return kGuidTaken;
    }

    void* library = Library(hub, path);
    if (!library)
        return kOpenFailed;
    const auto getInterface = reinterpret_cast<PFN_GetInterface>(dlsym(library, "GetInterface"));
    if (!getInterface) {
        PyrraDebug::DebugErr("pluginhub: %s does not export GetInterface\n", path.c_str());
        return kNoGetInterface;
    }
    // The contract's type is void*; a plug-in only reads through it.
    void* iface = getInterface(const_cast<char*>(guid));
    if (!iface) {
        PyrraDebug::DebugErr("pluginhub: %s gave no interface for %s\n", path.c_str(), guid);
        return kNoInterface;
    }
    // A load nested in GetInterface may have taken the GUID meanwhile: that
    // one stays, and this load did not give the interface served under it.
    const auto [served, added] = hub.byGuid.emplace(guid, Plugin {path, iface});
    if (!added && served->second.iface != iface) {
        PyrraDebug::DebugErr(
            "pluginhub: plug-in %s was taken by %s while %s was loading; its interface is not "
            "served\n",
            guid, served->second.path.c_str(), path.c_str());
        return kGuidTakenWhileLoading;
    }
    return kLoaded;
}

// The manager's slots are called from C-style code: nothing is thrown
// through them (a failed allocation becomes a logged refusal).
int LoadPlugin(const PluginLoadInfo* info)
{
    try {
        return Load(info);
    } catch (const std::exception& e) {
        PyrraDebug::DebugErr("pluginhub: cannot load plug-in %.63s: %s\n", info->szGuid, e.what());
        return kFailed;
    }
}

void* GetPluginInterface(const char* guid) noexcept
{
    // No known GUID is longer than its field; read no further than that.
    if (!guid || strnlen(guid, sizeof PluginLoadInfo::szGuid) == sizeof PluginLoadInfo::szGuid)
        return nullptr;
    Hub& hub = TheHub();
    const std::lock_guard<std::recursive_mutex> hold(hub.lock);
    const auto known = hub.byGuid.find(guid);
    return known != hub.byGuid.end() ? known->second.iface : nullptr;
}

tag_PLUGIN_MAN g_manager = {LoadPlugin, GetPluginInterface};

} // namespace

VEMORA_EXPORT tag_PLUGIN_MAN* GetPluginMan()
{
    return &g_manager;
}
