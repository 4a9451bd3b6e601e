// LuaTable_OP on plain tables, on tables with metamethods, and on globals
// that are not tables.
#include <gtest/gtest.h>

#include <climits>

#include "PlgApi.h"
#include "ScriptHostSupport.h"

namespace {

class LuaTable : public LuaTest {
protected:
    void SetUp() override
    {
        LuaTest::SetUp();
        ASSERT_EQ("", RunLua(L, R"(
            Writes = 0
            Plain = { 3.9, -3.9, "12", "twelve", 1e20, 0/0, true, n = 7, s = "text", f = 3.5 }
            Meta = setmetatable({}, {
              __newindex = function(t, k, v) Writes = Writes + 1; rawset(t, k, v) end,
              __index = function(t, k) return k == "up" and 3.9 or k == "down" and -3.9 or "via index" end,
            })
            NotATable = 42
        )"));
        lua_pushinteger(L, 1234); // something of the caller's on the stack
        top = lua_gettop(L);
    }
    void TearDown() override
    {
        EXPECT_EQ(top, lua_gettop(L)) << "the stack is left as it was found";
        LuaTest::TearDown();
    }

    int ReadKey(const char* table, const char* key, int preset = -77)
    {
        int out = preset;
        Plg().ReadKeyInt(&op, L, table, key, out);
        return out;
    }
    int ReadIndex(const char* table, int index, int preset = -77)
    {
        int out = preset;
        Plg().ReadIndexInt(&op, L, table, index, out);
        return out;
    }
    std::string ReadKeyText(const char* table, const char* key)
    {
        char out[64] = "unchanged";
        Plg().ReadKeyText(&op, L, table, key, out);
        return out;
    }
    std::string ReadIndexText(const char* table, int index)
    {
        char out[64] = "unchanged";
        Plg().ReadIndexText(&op, L, table, index, out);
        return out;
    }

    int top = 0;
    // The class has no data; any storage serves as its object.
    LuaTable_OP& op = *reinterpret_cast<LuaTable_OP*>(&storage);
    char storage = 0;
};

TEST_F(LuaTable, NumbersAreTruncatedTowardZero)
{
    EXPECT_EQ(3, ReadIndex("Plain", 1));
    EXPECT_EQ(-3, ReadIndex("Plain", 2));
    EXPECT_EQ(12, ReadIndex("Plain", 3)) << "a numeric string converts";
    EXPECT_EQ(0, ReadIndex("Plain", 4)) << "a string that is no number gives 0";
    EXPECT_EQ(INT_MAX, ReadIndex("Plain", 5)) << "out of range is clamped";
    EXPECT_EQ(0, ReadIndex("Plain", 6)) << "NaN gives 0";
    EXPECT_EQ(0, ReadIndex("Plain", 7));
    EXPECT_EQ(7, ReadKey("Plain", "n"));
    EXPECT_EQ(0, ReadKey("Plain", "missing"));
}

TEST_F(LuaTable, KeyReadsGoThroughIndexIndexReadsAreRaw)
{
    EXPECT_EQ(3, ReadKey("Meta", "up"));
    EXPECT_EQ(-3, ReadKey("Meta", "down"));
    EXPECT_EQ("via index", ReadKeyText("Meta", "other"));
    EXPECT_EQ(0, ReadIndex("Meta", 1)) << "the raw read does not see __index";
    EXPECT_EQ("unchanged", ReadIndexText("Meta", 1));
}

TEST_F(LuaTable, KeyWritesGoThroughNewindexIndexWritesAreRaw)
{
    const PlgApi& api = Plg();
    api.WriteKeyInt(&op, L, "Meta", "count", 5);
    api.WriteKeyText(&op, L, "Meta", "name", "board");
    EXPECT_EQ("2", GlobalText(L, "Writes"));

    api.WriteIndexInt(&op, L, "Meta", 1, 11);
    api.WriteIndexText(&op, L, "Meta", 2, "raw");
    EXPECT_EQ("2", GlobalText(L, "Writes")) << "raw writes bypass __newindex";
    EXPECT_EQ("", RunLua(L, R"(
        assert(rawget(Meta, "count") == 5 and rawget(Meta, "name") == "board")
        assert(rawget(Meta, 1) == 11 and rawget(Meta, 2) == "raw")
    )"));
    EXPECT_EQ(11, ReadIndex("Meta", 1));
    EXPECT_EQ("raw", ReadIndexText("Meta", 2));
}

TEST_F(LuaTable, TextReads)
{
    EXPECT_EQ("text", ReadKeyText("Plain", "s"));
    EXPECT_EQ("3.5", ReadKeyText("Plain", "f")) << "a number in its text form";
    EXPECT_EQ("twelve", ReadIndexText("Plain", 4));
    EXPECT_EQ("unchanged", ReadIndexText("Plain", 7)) << "a boolean has no text";
    EXPECT_EQ("unchanged", ReadKeyText("Plain", "missing"));
}

TEST_F(LuaTable, GlobalThatIsNotATableIsLeftAlone)
{
    const PlgApi& api = Plg();
    for (const char* name : {"NotATable", "Undefined"}) {
        EXPECT_EQ(-77, ReadKey(name, "x"));
        EXPECT_EQ(-77, ReadIndex(name, 1));
        EXPECT_EQ("unchanged", ReadKeyText(name, "x"));
        EXPECT_EQ("unchanged", ReadIndexText(name, 1));
        api.WriteKeyInt(&op, L, name, "x", 1);
        api.WriteKeyText(&op, L, name, "x", "y");
        api.WriteIndexInt(&op, L, name, 1, 1);
        api.WriteIndexText(&op, L, name, 1, "y");
    }
    EXPECT_EQ("42", GlobalText(L, "NotATable"));
    EXPECT_EQ("", GlobalText(L, "Undefined"));
}

} // namespace
