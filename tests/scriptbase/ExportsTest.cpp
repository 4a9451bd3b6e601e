// The host-side exports of scriptbase.dll, reached the way a caller reaches
// them: dlopen of the built file and dlsym by name.
#include "BCString.h"
#include "FailingNew.h"

#include <climits>
#include <cstring>
#include <dlfcn.h>
#include <gtest/gtest.h>
#include <lua.hpp>
#include <string>
#include <unistd.h>

namespace {

class ScriptBase : public ::testing::Test {
protected:
    static void SetUpTestSuite()
    {
        s_handle = dlopen("./scriptbase.dll", RTLD_NOW | RTLD_LOCAL);
        ASSERT_NE(s_handle, nullptr) << dlerror();
    }
    static void TearDownTestSuite()
    {
        if (s_handle)
            dlclose(s_handle);
        s_handle = nullptr;
    }

    template <typename F> static F* Get(const char* name)
    {
        void* sym = dlsym(s_handle, name);
        EXPECT_NE(sym, nullptr) << name;
        return reinterpret_cast<F*>(sym);
    }

    static void* s_handle;
};

void* ScriptBase::s_handle = nullptr;

using Crc32Fn = unsigned int(void*, unsigned int);
using AddSumFn = unsigned int(unsigned char*, unsigned int, unsigned int);
using Get64Fn = long long(unsigned int, unsigned int);
using Get32Fn = void(long long, unsigned int&, unsigned int&);
using ModulePathFn = CBCString();
using DirFn = void(const char*, char*);
using FileNameFn = CBCString(const char*, bool);

TEST_F(ScriptBase, Crc32CheckValueAndEmptyInput)
{
    auto* crc = Get<Crc32Fn>("calc_crc32");
    char digits[] = "123456789";
    EXPECT_EQ(crc(digits, 9), 0xCBF43926u);
    EXPECT_EQ(crc(digits, 0), 0u);
    unsigned char zeros[32] = {};
    EXPECT_EQ(crc(zeros, sizeof zeros), 0x190A55ADu);
}

TEST_F(ScriptBase, AddSumPadsTheLastWordWithZeros)
{
    auto* sum = Get<AddSumFn>("AddSum");
    unsigned char data[] = {1, 2, 3, 4, 5, 6, 7};
    EXPECT_EQ(sum(data, 5, 0), 0x04030206u);
    EXPECT_EQ(sum(data, 4, 100), 100u + 0x04030201u);
    EXPECT_EQ(sum(data, 7, 0), 0x04030201u + 0x00070605u);
    EXPECT_EQ(sum(data, 0, 77), 77u);
    unsigned char ones[] = {0xFF, 0xFF, 0xFF, 0xFF};
    EXPECT_EQ(sum(ones, 4, 3), 2u);
}

TEST_F(ScriptBase, SixtyFourBitHalves)
{
    auto* join = Get<Get64Fn>("Get64bitLen");
    auto* split = Get<Get32Fn>("Get32BitLen");
    EXPECT_EQ(join(16, 1), 0x100000010LL);
    EXPECT_EQ(join(0xFFFFFFFFu, 0x7FFFFFFFu), LLONG_MAX);
    unsigned int low = 0, high = 0;
    split(0x123456789ALL, low, high);
    EXPECT_EQ(low, 0x3456789Au);
    EXPECT_EQ(high, 0x12u);
    split(-1, low, high);
    EXPECT_EQ(low, 0xFFFFFFFFu);
    EXPECT_EQ(high, 0xFFFFFFFFu);
    EXPECT_EQ(join(low, high), -1);
}

TEST_F(ScriptBase, DirectoryAndFileNameCuts)
{
    auto* dir = Get<DirFn>("GetDirectoryFromPath");
    char out[64];
    dir("/opt/tool/vemora", out);
    EXPECT_STREQ(out, "/opt/tool/");
    dir("vemora", out);
    EXPECT_STREQ(out, "./");
    dir("/vemora", out);
    EXPECT_STREQ(out, "/");
    dir("a/b/", out);
    EXPECT_STREQ(out, "a/b/");

    auto* name = Get<FileNameFn>("GetFileNameFromPath");
    EXPECT_STREQ(name("images/v2/board.img", true), "board.img");
    EXPECT_STREQ(name("/board.img", true), "board.img");
    EXPECT_STREQ(name("board.img", true), "");
    EXPECT_STREQ(name("images/", true), "");
    EXPECT_STREQ(name("images/v2/board.img", false), "");
}

TEST_F(ScriptBase, ModulePathIsTheProgramDirectory)
{
    char self[4096] = {};
    ASSERT_GT(readlink("/proc/self/exe", self, sizeof self - 1), 0);
    std::string expected(self);
    expected.erase(expected.rfind('/') + 1);
    const CBCString path = Get<ModulePathFn>("GetModulePath")();
    EXPECT_EQ(std::string(path), expected);
}

TEST_F(ScriptBase, StringResultsThrowNothingWhenMemoryIsShort)
{
    auto* name = Get<FileNameFn>("GetFileNameFromPath");
    auto* module = Get<ModulePathFn>("GetModulePath");
    bool threw = false;
    bool empty = false;
    FailAllocations(true);
    try {
        const CBCString file = name("images/board.img", true);
        const CBCString dir = module();
        empty = file.IsEmpty() && dir.IsEmpty();
    } catch (...) {
        threw = true;
    }
    FailAllocations(false);
    EXPECT_FALSE(threw);
    EXPECT_TRUE(empty);
    EXPECT_STREQ(name("images/board.img", true), "board.img");
}

TEST_F(ScriptBase, MidBufferOffsetsInsideItsBufferAndRefusesNull)
{
    auto* mid = Get<int(lua_State*)>("l_MidBuffer");
    auto* mallocBuffer = Get<int(lua_State*)>("l_MallocBuff");
    auto* freeBuffer = Get<int(lua_State*)>("l_FreeBuffer");
    lua_State* L = luaL_newstate();
    ASSERT_NE(L, nullptr);
    lua_pushcfunction(L, mallocBuffer);
    lua_pushnumber(L, 16);
    ASSERT_EQ(lua_pcall(L, 1, 1, 0), 0) << lua_tostring(L, -1);
    auto* block = static_cast<unsigned char*>(lua_touserdata(L, -1));
    lua_pop(L, 1);

    const struct {
        bool null;
        double offset;
        const char* error; // null: the handle comes back offset bytes on
    } cases[] = {
        {false, 5.9, nullptr},
        {false, 16, nullptr},
        {false, 17, "bad argument #1 to 'MidBuffer' (byte 17 is outside its 16-byte buffer)"},
        {false, -1, "byte -1 is outside"},
        {true, 5, "buffer handle is null"},
    };
    for (const auto& c : cases) {
        lua_pushcfunction(L, mid);
        if (c.null)
            lua_pushnil(L);
        else
            lua_pushlightuserdata(L, block);
        lua_pushnumber(L, c.offset);
        const int rc = lua_pcall(L, 2, 1, 0);
        if (c.error) {
            ASSERT_NE(rc, 0) << c.offset;
            EXPECT_NE(std::strstr(lua_tostring(L, -1), c.error), nullptr) << lua_tostring(L, -1);
        } else {
            ASSERT_EQ(rc, 0) << lua_tostring(L, -1);
            EXPECT_EQ(lua_touserdata(L, -1), block + static_cast<int>(c.offset));
        }
        lua_pop(L, 1);
    }
    lua_pushcfunction(L, freeBuffer);
    lua_pushlightuserdata(L, block);
    ASSERT_EQ(lua_pcall(L, 1, 0, 0), 0) << lua_tostring(L, -1);
    lua_close(L);
}

} // namespace
