// The board driven from a real Lua 5.1 script through usbwire.dll and
// scriptbase.dll, loaded with package.loadlib as tool scripts load them.
#include "LuaTest.h"
#include "SimSupport.h"

#include <zlib.h>

namespace {

class LuaSession : public LuaTest {
protected:
    void SetUp() override
    {
        LuaTest::SetUp();
        ASSERT_EQ(luaL_dofile(L, SIM_SCRIPTS "/board_session.lua"), 0) << lua_tostring(L, -1);
    }

    // Calls a script function with string and number arguments; its first
    // result as a number, or the error text in `error`.
    double Call(const char* name, const std::string& node, std::vector<double> numbers = {})
    {
        lua_getglobal(L, name);
        lua_pushstring(L, node.c_str());
        for (double n : numbers)
            lua_pushnumber(L, n);
        if (lua_pcall(L, 1 + static_cast<int>(numbers.size()), 1, 0) != 0) {
            error = lua_tostring(L, -1);
            lua_pop(L, 1);
            return -1;
        }
        const double result = lua_tonumber(L, -1);
        lua_pop(L, 1);
        return result;
    }

    std::string error;
};

TEST_F(LuaSession, FelSessionThenFesFlashSession)
{
    Listener listener;
    simdev::Bus bus;
    auto board = bus.Plug();
    listener.UntilNode("add");
    const double priv = Call("fel_session", board->NodePath());
    ASSERT_EQ(error, "");
    EXPECT_EQ(priv, 0x0007E000);
    EXPECT_EQ(listener.UntilNode("remove").back().Get("DEVNAME"), "qx_efex0");
    EXPECT_EQ(listener.UntilNode("add").back().Get("DEVNAME"), "qx_efex1");
    ASSERT_TRUE(board->WaitForStage(simdev::Stage::Fes, 3s));

    const uint32_t length = 100000;
    const double crc = Call("fes_session", board->NodePath(), {4096, length});
    ASSERT_EQ(error, "");
    const auto flash = board->ReadFlash(4096, length);
    ASSERT_EQ(flash.size(), length);
    EXPECT_EQ(crc, crc32(0, flash.data(), length));
    EXPECT_EQ(flash[4], 0xA5);
    const auto transfers = board->Transfers();
    ASSERT_GE(transfers.size(), 2u); // the private-data read, then the write
    EXPECT_TRUE(transfers[1].finished);
    EXPECT_EQ(transfers[1].crc32, static_cast<uint32_t>(crc));
}

TEST_F(LuaSession, FaultsReachTheScriptAsTransportCodes)
{
    simdev::Bus bus;
    simdev::BoardOptions options;
    options.faults = {simdev::Fault {simdev::Fault::FexStatusFail, 1},
        simdev::Fault {simdev::Fault::BadStatusMagic, 4},
        simdev::Fault {simdev::Fault::BadVerifyMagic, 2}};
    auto board = bus.Plug(options);
    EXPECT_EQ(Call("verify_code", board->NodePath()), 659);
    EXPECT_EQ(Call("verify_code", board->NodePath()), 364);
    EXPECT_EQ(Call("verify_code", board->NodePath()), 434);
    EXPECT_EQ(Call("verify_code", board->NodePath()), 0);
    bus.Unplug(*board);
    Call("verify_code", board->NodePath());
    EXPECT_NE(error.find("cannot open"), std::string::npos) << error;
}

} // namespace
