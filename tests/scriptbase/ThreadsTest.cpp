// Lua states on threads of their own use scriptbase.dll and blockcrypt.dll at
// once, as the FEL and FES threads of several devices would: the registries
// of buffers and contexts stay right, and of threads freeing one buffer at
// the same moment exactly one frees it.
#include "LuaTest.h"

#include <atomic>
#include <gtest/gtest.h>
#include <string>
#include <thread>
#include <vector>

namespace {

constexpr int kThreads = 4;

const char* const kLoad = R"(
    assert(package.loadlib(SCRIPTBASE, "l_RegAllFun"))()
    assert(package.loadlib(BLOCKCRYPT, "l_RegAllFun"))()
)";

const char* const kWork = R"(
    for i = 1, 3000 do
        local size = i % 8 * 16
        local h, key = MallocBuffer(size), MallocBuffer(16)
        Memset(h, i, size)
        Memset(key, i, 16)
        assert(not pcall(Memset, h, 0, size + 1), "a range past the end passed")
        local ctx = Dec_Initial(key, 16)
        Dec_Encode(ctx, key, key)
        Dec_UnInitial(ctx)
        FreeBuffer(h)
        FreeBuffer(key)
    end
)";

lua_State* NewState()
{
    lua_State* L = NewLua();
    lua_pushstring(L, SCRIPTBASE_DLL);
    lua_setglobal(L, "SCRIPTBASE");
    lua_pushstring(L, VEMORA_BIN_DIR "/blockcrypt.dll");
    lua_setglobal(L, "BLOCKCRYPT");
    EXPECT_EQ(RunLua(L, kLoad), "");
    return L;
}

TEST(ScriptBaseThreads, StatesOnThreadsShareTheRegistries)
{
    std::vector<lua_State*> states;
    for (int i = 0; i < kThreads; ++i)
        states.push_back(NewState());
    std::vector<std::string> errors(kThreads);
    std::vector<std::thread> threads;
    for (int i = 0; i < kThreads; ++i)
        threads.emplace_back([&, i] { errors[i] = RunLua(states[i], kWork); });
    for (auto& t : threads)
        t.join();
    for (const std::string& error : errors)
        EXPECT_EQ(error, "");

    // One buffer, its handle in every state, freed by all at once.
    lua_State* owner = NewState();
    ASSERT_EQ(RunLua(owner, "shared = MallocBuffer(64)"), "");
    lua_getglobal(owner, "shared");
    void* shared = lua_touserdata(owner, -1);
    std::atomic<bool> go {false};
    std::atomic<int> freed {0};
    threads.clear();
    for (int i = 0; i < kThreads; ++i) {
        lua_pushlightuserdata(states[i], shared);
        lua_setglobal(states[i], "shared");
        threads.emplace_back([&, i] {
            while (!go.load())
                std::this_thread::yield();
            if (RunLua(states[i], "FreeBuffer(shared)").empty())
                ++freed;
        });
    }
    go = true;
    for (auto& t : threads)
        t.join();
    EXPECT_EQ(freed.load(), 1);
    for (lua_State* L : states)
        lua_close(L);
    lua_close(owner);
}

} // namespace
