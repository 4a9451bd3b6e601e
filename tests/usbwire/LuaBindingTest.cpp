// The script functions as tool scripts use them: usbwire.dll and
// scriptbase.dll loaded with package.loadlib into a real Lua 5.1 state.
#include "LuaTest.h"
#include "Usbwire.h"

#include <cstring>

namespace {

using testing::internal::CaptureStderr;
using testing::internal::GetCapturedStderr;

class LuaBinding : public LuaTest {
protected:
    static constexpr const char* kNode = "/dev/qx_efex_lua";

    void SetUp() override
    {
        simdrv::AttachNode(kNode, model);
        LuaTest::SetUp();
        lua_pushstring(L, kNode);
        lua_setglobal(L, "NODE");
    }
    void TearDown() override
    {
        LuaTest::TearDown();
        EXPECT_EQ(simdrv::OpenDescriptors(kNode), 0) << "a script left its handle open";
        simdrv::DetachNode(kNode);
    }

    void LoadLibraries()
    {
        ASSERT_EQ(Run("assert(package.loadlib(USBWIRE, 'l_RegAllFun'))()\n"
                      "assert(package.loadlib(SCRIPTBASE, 'l_RegAllFun'))()"),
            "");
    }

    std::shared_ptr<ScriptedModel> model = std::make_shared<ScriptedModel>();
};

TEST_F(LuaBinding, RegistersTheSevenGlobalsReplacingOldOnes)
{
    EXPECT_EQ(Run(R"(
        Fex_Open = "old"
        local reg = assert(package.loadlib(USBWIRE, "l_RegAllFun"))
        assert(select("#", reg()) == 0, "no results")
        for _, name in ipairs{"Fex_Open", "Fex_Close", "Fex_Query", "Fex_Send", "Fex_Recv",
                              "Fex_transmit_receive", "Fex_command"} do
            assert(type(_G[name]) == "function", name)
        end)"),
        "");

    // Called directly, it leaves the stack as it found it.
    auto reg = reinterpret_cast<lua_CFunction>(UsbwireSymbol("l_RegAllFun"));
    ASSERT_NE(reg, nullptr);
    lua_pushinteger(L, 1);
    lua_pushstring(L, "two");
    EXPECT_EQ(reg(L), 0);
    EXPECT_EQ(lua_gettop(L), 2);
}

TEST_F(LuaBinding, OpenCloseAndQueryResults)
{
    LoadLibraries();
    CaptureStderr();
    EXPECT_EQ(Run(R"(
        local h = Fex_Open(NODE)
        assert(type(h) == "userdata", "handle")
        assert(Fex_Query(h, 1, 2) == nil, "query")
        assert(Fex_Close(h) == 0, "close")
        assert(h ~= nil, "the script's handle is a copy")
        assert(Fex_Open("/nonexistent-vemora/qx_efex9") == nil, "missing node")
        assert(Fex_Open() == nil and Fex_Open({}) == nil, "no path")
        assert(Fex_Open(NODE .. "\0tail") == nil, "embedded NUL")
        assert(Fex_Open("/dev/" .. string.rep("q", 507)) == nil, "path of 512 characters")
        for _, bad in ipairs{5, "x", {}, true, io.stdout} do
            assert(Fex_Close(bad) == 102, "close of a non-handle")
        end
        assert(Fex_Close(nil) == 102, "close of nil"))"),
        "");
    EXPECT_EQ(GetCapturedStderr(), "open: No such file or directory\nopen: File name too long\n");
    EXPECT_EQ(model->openFlags, std::vector<int> {0x1002});
    EXPECT_EQ(model->closes, 1);
}

TEST_F(LuaBinding, SendAndReceiveGiveCountsOrNil)
{
    LoadLibraries();
    std::vector<uint8_t> device(600);
    for (size_t i = 0; i < device.size(); ++i)
        device[i] = static_cast<uint8_t>(i);
    model->Answer(device);
    CaptureStderr();
    EXPECT_EQ(Run(R"(
        local h = assert(Fex_Open(NODE))
        local b = MallocBuffer(700000)
        Memset(b, 0x5A, 700000)
        assert(Fex_Send(h, b, 0) == 0, "nothing to send")
        assert(Fex_Send(h, nil, 4) == nil, "nil buffer")
        assert(Fex_Send(h, b, 700000) == 700000, "send")
        assert(Fex_Recv(h, b, 600) == 600, "receive")
        assert(GetMemValue(b, 510, 4) == "feff0001", GetMemValue(b, 510, 4))
        assert(Fex_Recv(h, b, 600) == nil, "device silent")
        assert(Fex_Send(7, b, 4) == nil and Fex_Recv("x", b, 4) == nil, "non-handle")
        assert(Fex_Send(h, b, -1) == nil, "negative length")
        assert(Fex_Send(h, b, 0/0) == nil and Fex_Recv(h, b, 1/0) == nil
            and Fex_Send(h, b, -1e300) == nil, "not a length")
        FreeBuffer(b)
        assert(Fex_Close(h) == 0))"),
        "");
    const std::string log = GetCapturedStderr();
    EXPECT_NE(log.find("Try write null buffer to the device!\n"), std::string::npos);
    EXPECT_NE(log.find("Fex_Recv error: Input/output error\n"), std::string::npos);
    EXPECT_EQ(model->Trace(), "S327680 S327680 S44640 R512 R88 R512");
    EXPECT_EQ(model->SentData(), std::vector<uint8_t>(700000, 0x5A));
}

TEST_F(LuaBinding, WholeFexCommandsDrivenFromAScript)
{
    LoadLibraries();
    // Device side: a CMD_FES_TRANS write of 1000 bytes, then a verify-device read.
    model->Answer(StatusReply());
    model->Answer(StatusReply());
    model->Answer(Join({FexStatus(0), StatusReply()}));
    std::vector<uint8_t> verify(32, 0);
    std::memcpy(verify.data(), "QXUSBFEX", 8);
    verify[16] = 2; // FES
    model->Answer(Join({StatusReply(), verify, StatusReply(), FexStatus(0), StatusReply()}));
    // One whose FEX status fails, and one with a code the device never sees.
    model->Answer(Join({StatusReply(), FexStatus(3), StatusReply()}));
    model->Answer(StatusReply());

    EXPECT_EQ(Run(R"(
        local h = assert(Fex_Open(NODE))
        local cmd, data = MallocBuffer(16), MallocBuffer(1000)
        Memset(cmd, 0, 16)
        SetInt16FrmMem(cmd, 0, 0x0201)      -- CMD_FES_TRANS
        SetInt32FrmMem(cmd, 4, 0x40000000)  -- device address
        SetInt32FrmMem(cmd, 8, 1000)        -- length
        SetByteBitsFrmMem(cmd, 13, 4, 2, 1) -- host to device
        for i = 0, 999 do SetInt8FrmMem(data, i, i % 251) end
        assert(Fex_command(h, cmd, data, 1000) == 0, "trans")

        Memset(cmd, 0, 16)
        SetInt16FrmMem(cmd, 0, 0x0001)      -- CMD_COMMON_VERIFY_DEV
        assert(Fex_command(h, cmd, data, 32) == 0, "verify")
        assert(BufferToChars(data, 0, 8) == "QXUSBFEX", "magic")
        assert(GetInt16FrmMem(data, 16) == 2, "stage")

        SetInt16FrmMem(cmd, 0, 0x0102)      -- CMD_FEL_RUN
        assert(Fex_command(h, cmd, nil, 0) == 659, "fex status")
        SetInt16FrmMem(cmd, 0, 0x0999)
        assert(Fex_command(h, cmd, data, 4) == 642, "unknown code")
        assert(Fex_command(h, "not a block", data, 4) == 388, "block not a buffer")
        assert(Fex_command(0, cmd, data, 4) == 388, "non-handle")
        assert(Fex_transmit_receive(h, data, 4, 0x13) == 347, "direction")
        FreeBuffer(cmd) FreeBuffer(data)
        assert(Fex_Close(h) == 0))"),
        "");

    std::vector<uint8_t> block(16, 0);
    block[0] = 0x01;
    block[1] = 0x02;
    block[7] = 0x40;
    block[8] = 0xE8;
    block[9] = 0x03;
    block[13] = 0x10;
    ASSERT_GT(model->requests.size(), 4u);
    EXPECT_EQ(model->requests[1].bytes, block);
    std::vector<uint8_t> payload(1000);
    for (int i = 0; i < 1000; ++i)
        payload[i] = static_cast<uint8_t>(i % 251);
    EXPECT_EQ(model->requests[4].bytes, payload);
    EXPECT_EQ(model->Trace(),
        "Q12/16 S16 R13 Q12/1000 S1000 R13 Q11/8 R8 R13 " // trans
        "Q12/16 S16 R13 Q11/32 R32 R13 Q11/8 R8 R13 "     // verify
        "Q12/16 S16 R13 Q11/8 R8 R13 "                    // fel run, status 3
        "Q12/16 S16 R13 "                                 // unknown code
        "Q13/4");                                         // bad direction
}

} // namespace
