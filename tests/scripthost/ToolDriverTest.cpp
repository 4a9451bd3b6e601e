// The four tool entries against small tool scripts, one script per outcome.
#include <gtest/gtest.h>

#include <climits>
#include <cstring>

#include "PlgApi.h"
#include "ScriptHostSupport.h"

namespace {

// What one entry call produced.
struct Outcome {
    unsigned int code;
    std::string log; // standard error during the call
    std::vector<WindowCall> window;
    int stackChange;
};

_tag_TOOL_INIT_PARA InitRecord()
{
    _tag_TOOL_INIT_PARA para {};
    std::strcpy(para.imgFilePath, "/images/sample.img");
    std::strcpy(para.workDir, "/opt/vemora/Vemora");
    para.Mode = 8;
    para.hWnd = 0;
    para.ImgLenLow = INT_MIN; // an image of exactly 2 GiB
    para.ImgLenHigh = 0;
    return para;
}

_tag_TOOL_FELPARA FelRecord()
{
    _tag_TOOL_FELPARA para {};
    std::strcpy(para.felDevName, "/dev/qx_efex0");
    return para;
}

_tag_TOOL_FESPARA FesRecord()
{
    _tag_TOOL_FESPARA para {};
    std::strcpy(para.fesDevName, "/dev/qx_efex1");
    para.DeviceId = 3;
    return para;
}

class ToolDriver : public LuaTest {
protected:
    void SetUp() override
    {
        WindowDouble::Install();
        LuaTest::SetUp();
    }

    void Load(const char* script)
    {
        ASSERT_EQ(0, luaL_dofile(L, ScriptPath(script).c_str())) << lua_tostring(L, -1);
        lua_settop(L, 0);
    }

    template <typename Call> Outcome Run(Call call)
    {
        WindowDouble::calls.clear();
        const int top = lua_gettop(L);
        CapturedLog log;
        const unsigned int code = call();
        return {code, log.err(), WindowDouble::calls, lua_gettop(L) - top};
    }

    // Init, Exit, entry_fel2fes, entry_fes_thread, in that order.
    std::vector<Outcome> RunAll()
    {
        const auto init = InitRecord();
        const auto fel = FelRecord();
        const auto fes = FesRecord();
        const PlgApi& api = Plg();
        return {Run([&] { return api.Init(L, &init); }), Run([&] { return api.Exit(L, nullptr); }),
            Run([&] { return api.entry_fel2fes(L, &fel); }),
            Run([&] { return api.entry_fes_thread(L, &fes); })};
    }

    // The manager's image object works in the directory current at set-up.
    WorkDir dir;
};

void ExpectCodes(const std::vector<Outcome>& out, unsigned int init, unsigned int exit,
    unsigned int fel, unsigned int fes)
{
    ASSERT_EQ(4u, out.size());
    EXPECT_EQ(init, out[0].code);
    EXPECT_EQ(exit, out[1].code);
    EXPECT_EQ(fel, out[2].code);
    EXPECT_EQ(fes, out[3].code);
    for (const Outcome& o : out)
        EXPECT_EQ(0, o.stackChange);
}

void ExpectLogs(const std::vector<Outcome>& out, const std::string& init, const std::string& exit,
    const std::string& fel, const std::string& fes)
{
    ASSERT_EQ(4u, out.size());
    EXPECT_EQ(init, out[0].log);
    EXPECT_EQ(exit, out[1].log);
    EXPECT_EQ(fel, out[2].log);
    EXPECT_EQ(fes, out[3].log);
}

void ExpectNoWindowCalls(const std::vector<Outcome>& out)
{
    for (const Outcome& o : out)
        EXPECT_TRUE(o.window.empty());
}

void ExpectWindowError(const Outcome& out, const std::string& text)
{
    ASSERT_EQ(1u, out.window.size());
    EXPECT_EQ(WindowCall::Error, out.window[0].slot);
    EXPECT_EQ(nullptr, out.window[0].ctx);
    EXPECT_EQ(0u, out.window[0].code);
    EXPECT_EQ(text, out.window[0].text);
}

TEST_F(ToolDriver, TrueScriptGetsExactArgumentTables)
{
    Load("tools_true.lua");
    const auto out = RunAll();
    ExpectCodes(out, 0, 0, 0, 0);

    lua_getglobal(L, "Seen");
    lua_getfield(L, -1, "Init");
    EXPECT_STREQ("ImgLenHigh=number:0;ImgLenLow=number:-2147483648;Mode=number:8;hWnd=number:0;"
                 "imgFilePath=string:/images/sample.img;workDir=string:/opt/vemora/Vemora",
        lua_tostring(L, -1));
    lua_getfield(L, -2, "Exit");
    EXPECT_EQ(0, lua_tointeger(L, -1)) << "Tools.Exit gets no argument";
    lua_getfield(L, -3, "entry_fel2fes");
    EXPECT_STREQ("felDevName=string:/dev/qx_efex0", lua_tostring(L, -1));
    lua_getfield(L, -4, "entry_fes_thread");
    EXPECT_STREQ("DeviceId=number:3;fesDevName=string:/dev/qx_efex1;hubId=number:0;portId=number:0",
        lua_tostring(L, -1));
    lua_settop(L, 0);

    ExpectLogs(out, "", "", "", "L302, Finished to call Tools.entry_fes_thread.\n");
    ExpectNoWindowCalls(out);
}

TEST_F(ToolDriver, FalseResultsAndTheOneWindowReport)
{
    Load("tools_false.lua");
    const auto out = RunAll();
    ExpectCodes(out, 109, 166, 227, 4294967295u);
    ExpectLogs(out, "L107, Exception, returned value of Tools.init is error.\n",
        "L164, Exception, returned value of Tools.Exit is error.\n",
        "L225, Exception, returned value of Tools.entry_fel2fes is error.\n",
        "L296, Exception, returned value of Tools.entry_fes_thread is error.\n");
    EXPECT_TRUE(out[0].window.empty());
    EXPECT_TRUE(out[1].window.empty());
    EXPECT_TRUE(out[2].window.empty());
    ExpectWindowError(out[3], "returned value of Tools.entry_fes_thread is error");
}

TEST_F(ToolDriver, NumberOrNoResultIsNotABoolean)
{
    for (const char* script : {"tools_number.lua", "tools_nothing.lua"}) {
        SCOPED_TRACE(script);
        Load(script);
        const auto out = RunAll();
        ExpectCodes(out, 101, 158, 219, 290);
        ExpectLogs(out, "L99: result value type of Tools.init is not a boolean!\n",
            "L156: result value type of Tools.Exit is not a boolean!\n",
            "L217: result value type of Tools.entry_fel2fes is not a boolean!\n",
            "L288: result value type of Tools.entry_fes_thread is not a boolean!\n");
        ExpectNoWindowCalls(out);
    }
}

TEST_F(ToolDriver, RaisedErrorsAreCaughtLoggedAndReported)
{
    Load("tools_raise.lua");
    const auto out = RunAll();
    ExpectCodes(out, 93, 150, 211, 282);
    ExpectLogs(out, "pcall FAILED boom in Init 2 90\r\n\n", "pcall FAILED boom in Exit 2 147\r\n",
        "pcall FAILED boom in entry_fel2fes 2 209\r\n\n",
        "pcall FAILED boom in entry_fes_thread 2 279\r\n\n");
    ExpectWindowError(out[0], "pcall FAILED boom in Init 2 90\r\n");
    ExpectWindowError(out[1], "pcall FAILED boom in Exit 2 147\r\n");
    EXPECT_TRUE(out[2].window.empty()) << "the FEL thread reports its own failure";
    ExpectWindowError(out[3], "pcall FAILED boom in entry_fes_thread 2 279\r\n");
}

TEST_F(ToolDriver, ErrorFromToolsMetatableIsARaisedError)
{
    Load("tools_trap.lua");
    const auto out = RunAll();
    ExpectCodes(out, 93, 150, 211, 282);
    EXPECT_EQ("pcall FAILED no entry Init 2 90\r\n\n", out[0].log);
    EXPECT_EQ("pcall FAILED no entry entry_fes_thread 2 279\r\n\n", out[3].log);
}

TEST_F(ToolDriver, EntriesThatAreNotFunctions)
{
    Load("tools_not_function.lua");
    const auto out = RunAll();
    ExpectCodes(out, 61, 137, 194, 253);
    ExpectLogs(out, "L59,error, Tools.Init is not a function.\n",
        "L135,error, Tools.Exit is not a function.\n",
        "L192,error, Tools.entry_fel2fes is not a function.\n",
        "L251,error, Tools.entry_fes_thread is not a function.\n");
    ExpectNoWindowCalls(out);
}

TEST_F(ToolDriver, ToolsThatIsNotATable)
{
    Load("tools_string.lua");
    auto out = RunAll();
    ExpectCodes(out, 52, 127, 184, 244);
    for (const Outcome& o : out) {
        EXPECT_EQ("error, Tools is not a table\n", o.log);
        EXPECT_TRUE(o.window.empty());
    }

    Load("tools_unset.lua");
    lua_pushnil(L);
    lua_setglobal(L, "Tools");
    out = RunAll();
    ExpectCodes(out, 52, 127, 184, 244);
    EXPECT_EQ("Tools Is nil!\nerror, Tools is not a table\n", out[0].log);
    EXPECT_EQ("error, Tools is not a table\n", out[1].log);
    EXPECT_EQ("error, Tools is not a table\n", out[3].log);
}

TEST_F(ToolDriver, NullStateAndRecord)
{
    Load("tools_true.lua");
    const auto init = InitRecord();
    const PlgApi& api = Plg();
    EXPECT_EQ(37u, api.Init(nullptr, &init));
    EXPECT_EQ(37u, api.Init(L, nullptr));
    EXPECT_EQ(0u, api.Exit(nullptr, &init));
    EXPECT_EQ("", RunLua(L, "assert(Seen.Init == nil and Seen.Exit == nil)"));

    EXPECT_EQ(0u, api.Exit(L, &init)) << "the record of Exit is not used";
    EXPECT_EQ("", RunLua(L, "assert(Seen.Exit == 0)"));
}

TEST_F(ToolDriver, TextFieldsAreReadWithinTheirBuffer)
{
    Load("tools_true.lua");
    _tag_TOOL_FELPARA fel;
    std::memset(&fel, 'a', sizeof fel);
    std::memset(fel.reserved, 'b', sizeof fel.reserved);
    EXPECT_EQ(0u, Plg().entry_fel2fes(L, &fel));
    EXPECT_EQ(
        "", RunLua(L, "assert(Seen.entry_fel2fes == 'felDevName=string:' .. ('a'):rep(260))"));
}

TEST_F(ToolDriver, InitToolIFHandsOutTheEntries)
{
    const PlgApi& api = Plg();
    _tag_TOOL_IF* table = api.InitToolIF(L);
    EXPECT_EQ(api.g_LuaToolIF, table);
    EXPECT_EQ(L, *api.g_pToolLuaState);
    EXPECT_EQ(api.Init, table->Init);
    EXPECT_EQ(api.Exit, table->Exit);
    EXPECT_EQ(api.entry_fel2fes, table->Fel2Fes);
    EXPECT_EQ(api.entry_fes_thread, table->ToolEntry);

    lua_State* other = NewLua();
    EXPECT_EQ(table, api.InitToolIF(other));
    EXPECT_EQ(other, *api.g_pToolLuaState);
    lua_close(other);
}

} // namespace
