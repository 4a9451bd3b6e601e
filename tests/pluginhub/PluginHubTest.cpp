#include "CaptureOutput.h"
#include "FailingNew.h"
#include "ModulePath.h"
#include "PluginCenter.h"
#include "TestPlugin.h"

#include <cstring>
#include <dlfcn.h>
#include <gtest/gtest.h>
#include <string>
#include <thread>
#include <vector>

namespace {

std::string BinPath(const char* name)
{
    char path[MAX_PATH_LEN];
    EXPECT_GT(GetModuleRelPath(name, path), 0);
    return path;
}

// The center as every user reaches it: dlopen of pluginhub.dll, GetPluginMan.
class PluginHub : public ::testing::Test {
protected:
    void SetUp() override
    {
        m_library = dlopen(BinPath("pluginhub.dll").c_str(), RTLD_NOW);
        ASSERT_NE(m_library, nullptr) << dlerror();
        auto getMan = reinterpret_cast<PFN_GetPluginMan>(dlsym(m_library, "GetPluginMan"));
        ASSERT_NE(getMan, nullptr);
        m_man = getMan();
        ASSERT_NE(m_man, nullptr);
        ASSERT_EQ(getMan(), m_man);
    }
    void TearDown() override { dlclose(m_library); }

    int Load(const char* guid, const char* file)
    {
        PluginLoadInfo info;
        EXPECT_EQ(MakePluginLoadInfo(&info, guid, file), 0);
        return m_man->LoadPlugin(&info);
    }
    const TestPluginIf* Get(const char* guid)
    {
        return static_cast<const TestPluginIf*>(m_man->GetPluginInterface(guid));
    }

    void* m_library = nullptr;
    tag_PLUGIN_MAN* m_man = nullptr;
};

TEST_F(PluginHub, ServesEachGuidTheInterfaceOfItsFile)
{
    EXPECT_EQ(Load("map-a", "testplug_a.dll"), 0);
    EXPECT_EQ(Load("map-b", "testplug_b.dll"), 0);
    const TestPluginIf* a = Get("map-a");
    const TestPluginIf* b = Get("map-b");
    ASSERT_NE(a, nullptr);
    ASSERT_NE(b, nullptr);
    EXPECT_STREQ(a->name, "a");
    EXPECT_STREQ(a->guid, "map-a");
    EXPECT_STREQ(b->name, "b");
    EXPECT_STREQ(b->guid, "map-b");
    EXPECT_EQ(Get("map-c"), nullptr);
    EXPECT_EQ(Get(""), nullptr);
    EXPECT_EQ(m_man->GetPluginInterface(nullptr), nullptr);

    // The record itself serves as the GUID text.
    PluginLoadInfo info;
    ASSERT_EQ(MakePluginLoadInfo(&info, "map-a", "testplug_a.dll"), 0);
    EXPECT_EQ(m_man->GetPluginInterface(reinterpret_cast<const char*>(&info)), a);
}

// Overwrites the stack where the frames of a finished call lay.
__attribute__((noinline)) void ScribbleStack()
{
    volatile char junk[64 * 1024];
    for (size_t i = 0; i < sizeof junk; ++i)
        junk[i] = 'X';
}

TEST_F(PluginHub, APluginMayKeepTheGuidTextItWasGiven)
{
    ASSERT_EQ(Load("kept-guid", "testplug_a.dll"), 0);
    ScribbleStack();
    const TestPluginIf* iface = Get("kept-guid");
    ASSERT_NE(iface, nullptr);
    EXPECT_STREQ(iface->kept, "kept-guid");
}

TEST_F(PluginHub, OneFileServesTwoGuids)
{
    ASSERT_EQ(Load("two-1", "testplug_a.dll"), 0);
    ASSERT_EQ(Load("two-2", "testplug_a.dll"), 0);
    const TestPluginIf* first = Get("two-1");
    const TestPluginIf* second = Get("two-2");
    ASSERT_NE(first, nullptr);
    ASSERT_NE(second, nullptr);
    EXPECT_NE(first, second);
    EXPECT_STREQ(first->guid, "two-1");
    EXPECT_STREQ(second->guid, "two-2");
    // One library behind both: the same code and the same call counter.
    EXPECT_EQ(first->Calls, second->Calls);
}

TEST_F(PluginHub, SecondLoadOfAGuidKeepsTheFirst)
{
    ASSERT_EQ(Load("keep", "testplug_a.dll"), 0);
    const TestPluginIf* kept = Get("keep");
    ASSERT_NE(kept, nullptr);
    const int calls = kept->Calls();

    EXPECT_EQ(Load("keep", "testplug_a.dll"), 0);
    EXPECT_EQ(kept->Calls(), calls);

    CaptureOutput err(stderr);
    EXPECT_NE(Load("keep", "testplug_b.dll"), 0);
    EXPECT_EQ(err.Text(),
        "pluginhub: plug-in keep is already served by " + BinPath("testplug_a.dll")
            + ", not loading " + BinPath("testplug_b.dll") + "\n");
    EXPECT_EQ(Get("keep"), kept);
}

TEST_F(PluginHub, FailedLoadsAreLoggedAndServeNothing)
{
    CaptureOutput err(stderr);
    EXPECT_NE(Load("fail-missing", "no_such_plugin.dll"), 0);
    EXPECT_NE(Load("fail-export", "testplug_noexport.dll"), 0);
    EXPECT_NE(Load("fail-null", "testplug_null.dll"), 0);
    const std::string log = err.Text();

    const std::string missing = "pluginhub: cannot load " + BinPath("no_such_plugin.dll") + ": ";
    EXPECT_NE(log.find(missing), std::string::npos) << log;
    EXPECT_NE(log.find("pluginhub: " + BinPath("testplug_noexport.dll")
                  + " does not export GetInterface\n"),
        std::string::npos)
        << log;
    EXPECT_NE(log.find("pluginhub: " + BinPath("testplug_null.dll")
                  + " gave no interface for fail-null\n"),
        std::string::npos)
        << log;
    EXPECT_EQ(Get("fail-missing"), nullptr);
    EXPECT_EQ(Get("fail-export"), nullptr);
    EXPECT_EQ(Get("fail-null"), nullptr);

    // A failed GUID can still be loaded from a proper file afterwards.
    EXPECT_EQ(Load("fail-null", "testplug_a.dll"), 0);
    EXPECT_NE(Get("fail-null"), nullptr);
}

TEST_F(PluginHub, RefusesRecordsWithUnterminatedOrEmptyTexts)
{
    PluginLoadInfo info;
    ASSERT_EQ(MakePluginLoadInfo(&info, "bad-guid", "testplug_a.dll"), 0);
    std::memset(info.szGuid, 'G', sizeof info.szGuid);
    CaptureOutput err(stderr);
    EXPECT_NE(m_man->LoadPlugin(&info), 0);
    // Lookups read no further than the GUID field either.
    EXPECT_EQ(m_man->GetPluginInterface(info.szGuid), nullptr);

    ASSERT_EQ(MakePluginLoadInfo(&info, "bad-path", "testplug_a.dll"), 0);
    std::memset(info.szPath, 'P', sizeof info.szPath);
    EXPECT_NE(m_man->LoadPlugin(&info), 0);

    ASSERT_EQ(MakePluginLoadInfo(&info, "", "testplug_a.dll"), 0);
    EXPECT_NE(m_man->LoadPlugin(&info), 0);
    ASSERT_EQ(MakePluginLoadInfo(&info, "empty-path", "testplug_a.dll"), 0);
    info.szPath[0] = 0;
    EXPECT_NE(m_man->LoadPlugin(&info), 0);
    EXPECT_NE(m_man->LoadPlugin(nullptr), 0);

    EXPECT_EQ(err.Text(),
        "pluginhub: plug-in GUID is not terminated within its 64 bytes\n"
        "pluginhub: path of plug-in bad-path is not terminated within its 260 "
        "bytes\n"
        "pluginhub: plug-in "
            + BinPath("testplug_a.dll")
            + " has an empty GUID\n"
              "pluginhub: plug-in empty-path has an empty path\n"
              "pluginhub: LoadPlugin without a record\n");
    EXPECT_EQ(Get("bad-path"), nullptr);
    EXPECT_EQ(Get("empty-path"), nullptr);
}

TEST_F(PluginHub, ConcurrentLoadsCallGetInterfaceOncePerGuid)
{
    ASSERT_EQ(Load("count-probe", "testplug_b.dll"), 0);
    const int callsBefore = Get("count-probe")->Calls();

    constexpr int kThreads = 8;
    std::vector<std::thread> threads;
    std::vector<const void*> shared(kThreads);
    std::vector<int> results(kThreads * 2, -1);
    for (int t = 0; t < kThreads; ++t) {
        threads.emplace_back([&, t] {
            const std::string own = "own-" + std::to_string(t);
            results[2 * t] = Load("shared-b", "testplug_b.dll");
            results[2 * t + 1] = Load(own.c_str(), "testplug_b.dll");
            shared[t] = Get("shared-b");
        });
    }
    for (std::thread& thread : threads)
        thread.join();

    for (int result : results)
        EXPECT_EQ(result, 0);
    ASSERT_NE(shared[0], nullptr);
    for (const void* iface : shared)
        EXPECT_EQ(iface, shared[0]);
    for (int t = 0; t < kThreads; ++t) {
        const TestPluginIf* own = Get(("own-" + std::to_string(t)).c_str());
        ASSERT_NE(own, nullptr);
        EXPECT_EQ(own->guid, "own-" + std::to_string(t));
    }
    EXPECT_EQ(Get("count-probe")->Calls(), callsBefore + kThreads + 1);
}

TEST_F(PluginHub, AnotherLibrarysCenterServesTheSamePlugins)
{
    ASSERT_EQ(Load("shared-view", "testplug_a.dll"), 0);

    void* handle = nullptr;
    tag_PLUGIN_MAN* own = LoadPluginCenter(&handle);
    EXPECT_EQ(own, m_man);
    CloseModule(handle);

    void* client = dlopen(BinPath("testclient.dll").c_str(), RTLD_NOW);
    ASSERT_NE(client, nullptr) << dlerror();
    auto lookUp = reinterpret_cast<void* (*)(const char*)>(dlsym(client, "ClientLookUp"));
    ASSERT_NE(lookUp, nullptr);
    EXPECT_EQ(lookUp("shared-view"), Get("shared-view"));
    EXPECT_EQ(lookUp("never-loaded"), nullptr);
    dlclose(client);
}

TEST_F(PluginHub, RegistryOutlivesTheLastHandleToTheCenter)
{
    ASSERT_EQ(Load("outlive", "testplug_a.dll"), 0);
    const TestPluginIf* iface = Get("outlive");
    ASSERT_NE(iface, nullptr);

    // The program and the plug-ins open and close the center on their own;
    // the last close must not take the registry with it.
    dlclose(m_library);
    m_library = dlopen(BinPath("pluginhub.dll").c_str(), RTLD_NOW);
    ASSERT_NE(m_library, nullptr) << dlerror();
    auto getMan = reinterpret_cast<PFN_GetPluginMan>(dlsym(m_library, "GetPluginMan"));
    ASSERT_NE(getMan, nullptr);
    EXPECT_EQ(getMan(), m_man);
    m_man = getMan();
    EXPECT_EQ(Get("outlive"), iface);
}

TEST_F(PluginHub, RunningOutOfMemoryIsARefusalNotAnException)
{
    // GUIDs too long for a string's inline buffer: any copy would allocate.
    ASSERT_EQ(Load(LANGHUB_GUID, "testplug_a.dll"), 0);
    const TestPluginIf* kept = Get(LANGHUB_GUID);
    ASSERT_NE(kept, nullptr);
    PluginLoadInfo info;
    ASSERT_EQ(MakePluginLoadInfo(&info, USBWIRE_GUID, "testplug_b.dll"), 0);

    CaptureOutput err(stderr);
    FailAllocations(true);
    const int result = m_man->LoadPlugin(&info);
    const void* missing = m_man->GetPluginInterface(USBWIRE_GUID);
    const void* found = m_man->GetPluginInterface(LANGHUB_GUID);
    FailAllocations(false);
    EXPECT_NE(result, 0);
    EXPECT_EQ(missing, nullptr);
    EXPECT_EQ(found, kept);
    EXPECT_EQ(err.Text(), "pluginhub: cannot load plug-in " USBWIRE_GUID ": std::bad_alloc\n");

    // Nothing half-registered stands in the way of a later load.
    EXPECT_EQ(m_man->LoadPlugin(&info), 0);
    EXPECT_NE(Get(USBWIRE_GUID), nullptr);
}

TEST_F(PluginHub, APluginMayLoadAnotherWhileBeingLoaded)
{
    ASSERT_EQ(Load("nested-outer", "testplug_nested.dll"), 0);
    const TestPluginIf* inner = Get("nested-inner");
    ASSERT_NE(inner, nullptr);
    EXPECT_STREQ(inner->name, "b");
    EXPECT_EQ(Get("nested-outer"), inner);

    // A nested load that takes the outer load's own GUID keeps it.
    CaptureOutput err(stderr);
    EXPECT_NE(Load("nested-same", "testplug_nested.dll"), 0);
    const TestPluginIf* served = Get("nested-same");
    ASSERT_NE(served, nullptr);
    EXPECT_STREQ(served->name, "b");
    EXPECT_EQ(err.Text(),
        "pluginhub: plug-in nested-same was taken by " + BinPath("testplug_b.dll") + " while "
            + BinPath("testplug_nested.dll") + " was loading; its interface is not served\n");
}

} // namespace
