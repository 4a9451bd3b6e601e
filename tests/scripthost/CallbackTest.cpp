// Reports from the script side reaching a test double of the window through
// MsgCallBack and the host functions a tool script calls.
#include <gtest/gtest.h>

#include <dlfcn.h>
#include <signal.h>
#include <sys/time.h>

#include <chrono>

#include "PlgApi.h"
#include "ScriptHostSupport.h"

namespace {

class Callbacks : public LuaTest {
protected:
    void SetUp() override
    {
        WindowDouble::Install();
        LuaTest::SetUp();
        const PlgApi& api = Plg();
        lua_register(L, "ToolMsgCallBack", api.l_ToolMsgCallBack);
        lua_register(L, "ToolMessageBox", api.l_ToolMessageBox);
        lua_register(L, "ToolsSuspend", api.l_ToolsSuspend);
    }

    // The manager's image object works in the directory current at set-up.
    WorkDir dir;
};

void ExpectCall(const WindowCall& call, WindowCall::Slot slot, unsigned int code, const char* text)
{
    EXPECT_EQ(slot, call.slot);
    EXPECT_EQ(nullptr, call.ctx) << "script reports carry no window context";
    EXPECT_EQ(code, call.code);
    EXPECT_EQ(text, call.text);
}

TEST_F(Callbacks, MsgCallBackForwardsByCode)
{
    const PlgApi& api = Plg();
    const char text[] = "Writing boot0";
    EXPECT_EQ(nullptr, api.MsgCallBack(0x10, 42, text));
    EXPECT_EQ(nullptr, api.MsgCallBack(0x20, 0, nullptr));
    EXPECT_EQ(nullptr, api.MsgCallBack(0x30, 7, "low battery"));
    EXPECT_EQ(nullptr, api.MsgCallBack(0x40, 0, "done"));
    EXPECT_EQ(nullptr, api.MsgCallBack(0x50, 1, "ignored"));
    EXPECT_EQ(nullptr, api.MsgCallBack(0, 1, "ignored"));

    ASSERT_EQ(4u, WindowDouble::calls.size());
    ExpectCall(WindowDouble::calls[0], WindowCall::Process, 42, "Writing boot0");
    ExpectCall(WindowDouble::calls[1], WindowCall::Error, 0, " ");
    ExpectCall(WindowDouble::calls[2], WindowCall::Warning, 7, "low battery");
    ExpectCall(WindowDouble::calls[3], WindowCall::Over, 0, "done");
}

TEST_F(Callbacks, MissingWindowCallbacksAreSkipped)
{
    VemoCallbackFun onlyErrors {};
    onlyErrors.pfnBurnError = WindowDouble::Callbacks().pfnBurnError;
    WindowDouble::Install(onlyErrors);

    Plg().MsgCallBack(0x10, 50, "progress");
    Plg().MsgCallBack(0x40, 0, "over");
    Plg().MsgCallBack(0x20, 0, "error");
    ASSERT_EQ(1u, WindowDouble::calls.size());
    ExpectCall(WindowDouble::calls[0], WindowCall::Error, 0, "error");

    EXPECT_EQ("", RunLua(L, "assert(ToolMessageBox('Again?', 'x') == 0)"))
        << "without a question callback the answer is 0";
}

TEST_F(Callbacks, ToolMsgCallBackFromAScript)
{
    EXPECT_EQ("", RunLua(L, R"(
        assert(select('#', ToolMsgCallBack(0, 16, "Writing", 42)) == 0)
        ToolMsgCallBack(0, 32)
        ToolMsgCallBack(0, 80, "nothing", 1)
        ToolMsgCallBack(0, 48, "warn", 3)
        ToolMsgCallBack("any", 16 + 2^32, "wrapped", 2^32 + 5)
        ToolMsgCallBack(nil, "abc", "code 0", 1)
        ToolMsgCallBack(0, 64, 12.5, 100)
    )"));
    ASSERT_EQ(5u, WindowDouble::calls.size());
    ExpectCall(WindowDouble::calls[0], WindowCall::Process, 42, "Writing");
    ExpectCall(WindowDouble::calls[1], WindowCall::Error, 0, " ");
    ExpectCall(WindowDouble::calls[2], WindowCall::Warning, 3, "warn");
    ExpectCall(WindowDouble::calls[3], WindowCall::Process, 5, "wrapped");
    ExpectCall(WindowDouble::calls[4], WindowCall::Over, 100, "12.5");
}

TEST_F(Callbacks, ToolMessageBoxAsksAndReturnsTheAnswer)
{
    WindowDouble::answer = -1;
    EXPECT_EQ("", RunLua(L, "Answer = ToolMessageBox('Erase all?', 'Flash')"));
    WindowDouble::answer = 1;
    EXPECT_EQ("", RunLua(L, "Bare = ToolMessageBox()"));
    EXPECT_EQ("", RunLua(L, "Mixed = ToolMessageBox(nil, 7)"));

    EXPECT_EQ("-1", GlobalText(L, "Answer"));
    EXPECT_EQ("1", GlobalText(L, "Bare"));
    ASSERT_EQ(3u, WindowDouble::calls.size());
    for (const WindowCall& call : WindowDouble::calls) {
        EXPECT_EQ(WindowCall::MessageBox, call.slot);
        EXPECT_EQ(nullptr, call.ctx);
    }
    EXPECT_EQ("Erase all?", WindowDouble::calls[0].text);
    EXPECT_EQ("Flash", WindowDouble::calls[0].second);
    EXPECT_EQ(" ", WindowDouble::calls[1].text);
    EXPECT_EQ(" ", WindowDouble::calls[1].second);
    EXPECT_EQ(" ", WindowDouble::calls[2].text);
    EXPECT_EQ("7", WindowDouble::calls[2].second);
}

double Seconds(lua_State* L, const char* chunk)
{
    const auto start = std::chrono::steady_clock::now();
    EXPECT_EQ("", RunLua(L, chunk));
    return std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
}

TEST_F(Callbacks, ToolsSuspendReturnsNothing)
{
    EXPECT_EQ("", RunLua(L, R"(
        assert(select('#', ToolsSuspend(0)) == 0)
        assert(select('#', ToolsSuspend()) == 0)
        assert(select('#', ToolsSuspend(-1)) == 0)
        assert(select('#', ToolsSuspend(1)) == 0)
    )"));
    EXPECT_LT(Seconds(L, "ToolsSuspend(-5) ToolsSuspend(0) ToolsSuspend()"), 1.0)
        << "zero, negative and missing pauses return at once";
}

void OnAlarm(int) { }

TEST_F(Callbacks, ToolsSuspendOutlastsSignals)
{
    struct sigaction action { };
    action.sa_handler = OnAlarm;
    struct sigaction previous { };
    ASSERT_EQ(0, sigaction(SIGALRM, &action, &previous));
    itimerval every10ms {{0, 10000}, {0, 10000}};
    setitimer(ITIMER_REAL, &every10ms, nullptr);

    const double slept = Seconds(L, "ToolsSuspend(80)");

    itimerval off {};
    setitimer(ITIMER_REAL, &off, nullptr);
    sigaction(SIGALRM, &previous, nullptr);
    EXPECT_GE(slept, 0.080);
}

// The manager takes the working directory as the program's directory; one
// too long for the work-file paths fails the set-up.
TEST(ProcessManager, InitVemoProcFailsOnAnOverlongDirectory)
{
    WorkDir dir;
    DeepDirectory(dir.path(), 250);
    CapturedLog log;
    EXPECT_EQ(147, Plg().InitVemoProc(nullptr, WindowDouble::Callbacks()));
    log.Take();
    EXPECT_EQ(0u, log.err().find("InitialImage Error ./VemoProcMan ")) << log.err();
    EXPECT_EQ('\n', log.err().back());

    ASSERT_EQ(0, chdir(dir.path().c_str()));
    WindowDouble::Install();
    Plg().MsgCallBack(0x40, 0, "done");
    ASSERT_EQ(1u, WindowDouble::calls.size());
    ExpectCall(WindowDouble::calls[0], WindowCall::Over, 0, "done");
}

// A fresh copy of the library, in a namespace of its own, has no window yet.
TEST(CallbacksBeforeInit, ReachNothingAndAnswerNo)
{
    void* fresh = dlmopen(LM_ID_NEWLM, PlgPath(), RTLD_NOW | RTLD_LOCAL);
    ASSERT_NE(nullptr, fresh) << dlerror();
    auto msg
        = reinterpret_cast<void* (*)(unsigned int, int, const char*)>(dlsym(fresh, "MsgCallBack"));
    auto box = reinterpret_cast<lua_CFunction>(dlsym(fresh, "l_ToolMessageBox"));
    // The copy's own Lua library runs the script.
    auto newState = reinterpret_cast<lua_State* (*)()>(dlsym(fresh, "luaL_newstate"));
    auto call = reinterpret_cast<void (*)(lua_State*, int, int)>(dlsym(fresh, "lua_call"));
    auto push = reinterpret_cast<void (*)(lua_State*, lua_CFunction, int)>(
        dlsym(fresh, "lua_pushcclosure"));
    auto toNumber = reinterpret_cast<lua_Number (*)(lua_State*, int)>(dlsym(fresh, "lua_tonumber"));
    auto closeState = reinterpret_cast<void (*)(lua_State*)>(dlsym(fresh, "lua_close"));
    ASSERT_TRUE(msg && box && newState && call && push && toNumber && closeState);

    auto init = reinterpret_cast<int (*)(void*, VemoCallbackFun)>(dlsym(fresh, "InitVemoProc"));
    ASSERT_NE(nullptr, init);
    WindowDouble::calls.clear();
    WindowDouble::answer = 1;

    EXPECT_EQ(nullptr, msg(0x20, 0, "nobody listens"));

    // A failed set-up stores the callbacks but still gives nothing a way in.
    WorkDir dir;
    DeepDirectory(dir.path(), 250);
    {
        CapturedLog quiet;
        EXPECT_EQ(147, init(nullptr, WindowDouble::Callbacks()));
    }
    EXPECT_EQ(nullptr, msg(0x20, 0, "nobody listens"));

    lua_State* L = newState();
    push(L, box, 0);
    call(L, 0, 1);
    EXPECT_EQ(0, toNumber(L, -1));
    closeState(L);
    EXPECT_TRUE(WindowDouble::calls.empty());
}

} // namespace
