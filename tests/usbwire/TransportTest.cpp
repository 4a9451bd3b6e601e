// The transport on the wire: every byte the driver sees and every result code.
#include "Usbwire.h"

#include <cerrno>
#include <climits>
#include <cstring>
#include <fcntl.h>
#include <numeric>
#include <string>
#include <unistd.h>

namespace {

using testing::internal::CaptureStderr;
using testing::internal::CaptureStdout;
using testing::internal::GetCapturedStderr;
using testing::internal::GetCapturedStdout;

std::vector<uint8_t> Pattern(size_t n, uint8_t seed = 1)
{
    std::vector<uint8_t> v(n);
    for (size_t i = 0; i < n; ++i)
        v[i] = static_cast<uint8_t>(seed + i * 7 + (i >> 9));
    return v;
}

// "R512 R512 R276" for a receive of 1300 bytes, and so on.
std::string Chunks(char kind, unsigned length, unsigned chunk)
{
    std::string words;
    for (; length > 0; length -= std::min(length, chunk))
        words += (words.empty() ? "" : " ") + std::string(1, kind)
            + std::to_string(std::min(length, chunk));
    return words;
}

// --- The table ------------------------------------------------------------

TEST(Interface, GetInterfaceHandsOutOneTableOfTheSevenExports)
{
    using GetInterfaceFn = tag_EFEX_IF* (*)(void*);
    auto get = reinterpret_cast<GetInterfaceFn>(UsbwireSymbol("GetInterface"));
    ASSERT_NE(get, nullptr);
    tag_EFEX_IF* first = get(nullptr);
    int dummy;
    tag_EFEX_IF* second = get(&dummy);
    ASSERT_EQ(first, second);
    const char* names[] = {"Fex_Open", "Fex_Close", "Fex_Query", "Fex_Send", "Fex_Recv",
        "Fex_transmit_receive", "Fex_command"};
    static_assert(sizeof(tag_EFEX_IF) == 7 * sizeof(void*), "seven slots");
    void* slots[7];
    std::memcpy(slots, first, sizeof slots);
    for (int i = 0; i < 7; ++i)
        EXPECT_EQ(slots[i], UsbwireSymbol(names[i])) << "slot " << i + 1 << " " << names[i];
}

// --- Open and close -------------------------------------------------------

TEST_F(WireTest, OpenIsReadWriteWithSynchronousWritesAndHandleCarriesTheDescriptor)
{
    ASSERT_EQ(model->openFlags, std::vector<int> {0x1002});
    const intptr_t fd = reinterpret_cast<intptr_t>(handle);
    EXPECT_GT(fd, 2);
    EXPECT_LE(fd, INT_MAX);
    EXPECT_EQ(simdrv::OpenDescriptors(kNode), 1);
}

TEST_F(WireTest, CloseStoresZeroAndReopenGivesAFreshWorkingHandle)
{
    ASSERT_EQ(fex.Fex_Close(&handle), 0);
    EXPECT_EQ(handle, nullptr);
    EXPECT_EQ(model->closes, 1);
    EXPECT_EQ(simdrv::OpenDescriptors(kNode), 0);
    EXPECT_EQ(fex.Fex_Close(&handle), 102); // 0 means closed

    ASSERT_EQ(fex.Fex_Open(&handle, const_cast<char*>(kNode)), 0);
    EXPECT_NE(handle, nullptr);
    EXPECT_EQ(simdrv::OpenDescriptors(kNode), 1);
    uint8_t data[4] = {9, 8, 7, 6};
    unsigned count = 0;
    EXPECT_EQ(fex.Fex_Send(&handle, data, 4, count), 0);
    EXPECT_EQ(model->SentData(), std::vector<uint8_t>(data, data + 4));
}

TEST(WireOpen, MissingNodeGives74TheOpenLineAndNoDevice)
{
    void* handle = nullptr;
    CaptureStderr();
    EXPECT_EQ(Fex().Fex_Open(&handle, const_cast<char*>("/nonexistent-vemora/qx_efex9")), 74);
    EXPECT_EQ(GetCapturedStderr(), "open: No such file or directory\n");
    EXPECT_EQ(handle, kNoDevice);
    EXPECT_EQ(Fex().Fex_Close(&handle), 102);
}

TEST(WireOpen, DescriptorZeroIsNeverHandedOutAsAHandle)
{
    // A node that serves one open at a time must see exactly one open.
    const char* node = "/dev/qx_efex_zero";
    auto model = std::make_shared<ScriptedModel>();
    simdrv::AttachNode(node, model, simdrv::Opens::One);
    const int savedStdin = dup(0);
    close(0); // the node's descriptor would now be 0
    void* handle = nullptr;
    const int result = Fex().Fex_Open(&handle, const_cast<char*>(node));
    const bool zeroLeftFree = fcntl(0, F_GETFD) == -1;
    dup2(savedStdin, 0);
    close(savedStdin);

    EXPECT_EQ(result, 0);
    EXPECT_NE(handle, nullptr);
    EXPECT_TRUE(zeroLeftFree);
    EXPECT_EQ(model->openFlags, std::vector<int> {0x1002});
    EXPECT_EQ(model->closes, 0);
    EXPECT_EQ(simdrv::OpenDescriptors(node), 1);
    uint8_t data[2] = {5, 6};
    unsigned count = 0;
    EXPECT_EQ(Fex().Fex_Send(&handle, data, 2, count), 0);
    EXPECT_EQ(model->SentData(), std::vector<uint8_t>(data, data + 2));
    EXPECT_EQ(Fex().Fex_Close(&handle), 0);
    EXPECT_EQ(model->closes, 1);
    EXPECT_EQ(simdrv::OpenDescriptors(node), 0);
    simdrv::DetachNode(node);
}

TEST(WireOpen, PathOf512CharactersIsRefusedNeverCut)
{
    const std::string fits = "/dev/" + std::string(506, 'q'); // 511 characters
    const std::string tooLong = fits + "x";
    auto model = std::make_shared<ScriptedModel>();
    simdrv::AttachNode(fits, model);
    simdrv::AttachNode(tooLong, model);

    void* handle = nullptr;
    CaptureStderr();
    EXPECT_EQ(Fex().Fex_Open(&handle, const_cast<char*>(tooLong.c_str())), 74);
    EXPECT_EQ(GetCapturedStderr(), "open: File name too long\n");
    EXPECT_EQ(handle, kNoDevice);
    EXPECT_TRUE(model->openFlags.empty());

    EXPECT_EQ(Fex().Fex_Open(&handle, const_cast<char*>(fits.c_str())), 0);
    EXPECT_EQ(simdrv::OpenDescriptors(fits), 1);
    EXPECT_EQ(Fex().Fex_Close(&handle), 0);
    simdrv::DetachNode(fits);
    simdrv::DetachNode(tooLong);
}

TEST(WireOpen, NullArgumentsAreRefusedWithTheirOwnReason)
{
    const char* node = "/dev/qx_efex_nullargs";
    auto model = std::make_shared<ScriptedModel>();
    simdrv::AttachNode(node, model);
    void* handle = nullptr;
    struct Case {
        void** handle;
        const char* path;
    };
    for (const Case& c : {Case {nullptr, node}, Case {&handle, nullptr}}) {
        CaptureStderr();
        EXPECT_EQ(Fex().Fex_Open(c.handle, const_cast<char*>(c.path)), 74);
        EXPECT_EQ(GetCapturedStderr(), "open: Bad address\n");
    }
    EXPECT_EQ(handle, kNoDevice);
    EXPECT_TRUE(model->openFlags.empty());
    simdrv::DetachNode(node);
}

TEST_F(WireTest, NoDeviceHandlesAreRefusedByEveryOperationButQuery)
{
    uint8_t buf[16] = {};
    unsigned count = 5;
    void* none = kNoDevice;
    void* closed = nullptr;
    for (void** h : {static_cast<void**>(nullptr), &none, &closed}) {
        EXPECT_EQ(fex.Fex_Close(h), 102);
        EXPECT_EQ(fex.Fex_Send(h, buf, 16, count), 153);
        EXPECT_EQ(fex.Fex_Recv(h, buf, 16, count), 221);
        CaptureStderr();
        EXPECT_EQ(fex.Fex_transmit_receive(h, buf, 16, 0x11), 293);
        EXPECT_EQ(GetCapturedStderr(), "Fex_transmit_receive Error: eFexCore.cpp, 293\n");
        EXPECT_EQ(fex.Fex_command(h, buf, buf, 16), 388);
        EXPECT_EQ(fex.Fex_Query(h, nullptr, 0, nullptr, 0, count), 0);
    }
    EXPECT_EQ(fex.Fex_command(&handle, nullptr, buf, 16), 388);
    EXPECT_EQ(count, 5u);
    EXPECT_TRUE(model->requests.empty());
}

// --- Raw sends and receives -----------------------------------------------

TEST_F(WireTest, SendGoesOutInChunksOf327680StraightFromTheCallersBuffer)
{
    auto data = Pattern(700000);
    unsigned count = 0;
    ASSERT_EQ(fex.Fex_Send(&handle, data.data(), 700000, count), 0);
    EXPECT_EQ(count, 700000u);
    EXPECT_EQ(model->Trace(), "S327680 S327680 S44640");
    EXPECT_EQ(model->SentData(), data);
    EXPECT_EQ(model->requests[0].address, data.data());
    EXPECT_EQ(model->requests[1].address, data.data() + 327680);
    EXPECT_EQ(model->requests[2].address, data.data() + 655360);
}

TEST_F(WireTest, SendOfNothingIssuesNoRequestAndANullBufferIsRefused)
{
    uint8_t buf[4] = {};
    unsigned count = 77;
    EXPECT_EQ(fex.Fex_Send(&handle, buf, 0, count), 0);
    EXPECT_EQ(count, 0u);
    for (unsigned length : {0u, 5u}) {
        count = 77;
        CaptureStderr();
        EXPECT_EQ(fex.Fex_Send(&handle, nullptr, length, count), 168);
        EXPECT_EQ(GetCapturedStderr(), "Try write null buffer to the device!\n");
        EXPECT_EQ(count, 77u);
    }
    EXPECT_TRUE(model->requests.empty());
}

TEST_F(WireTest, FailingSendGives200AndCountsWhatWentOut)
{
    auto data = Pattern(700000);
    unsigned count = 0;
    model->FailRequest(1, EPIPE);
    CaptureStderr();
    EXPECT_EQ(fex.Fex_Send(&handle, data.data(), 700000, count), 200);
    EXPECT_EQ(GetCapturedStderr(), "Fex_Send error: Broken pipe\n");
    EXPECT_EQ(count, 327680u);
    EXPECT_EQ(model->Trace(), "S327680 S327680");
}

TEST_F(WireTest, ReceiveComesInChunksOf512StraightIntoTheCallersBuffer)
{
    const auto device = Pattern(1300, 3);
    model->Answer(device);
    std::vector<uint8_t> buf(1300);
    unsigned count = 0;
    ASSERT_EQ(fex.Fex_Recv(&handle, buf.data(), 1300, count), 0);
    EXPECT_EQ(count, 1300u);
    EXPECT_EQ(model->Trace(), "R512 R512 R276");
    EXPECT_EQ(buf, device);
    EXPECT_EQ(model->requests[2].address, buf.data() + 1024);
}

TEST_F(WireTest, ReceiveRefusesANullBufferAndReports272WhenARequestFails)
{
    unsigned count = 99;
    CaptureStderr();
    EXPECT_EQ(fex.Fex_Recv(&handle, nullptr, 10, count), 239);
    EXPECT_EQ(GetCapturedStderr(), "Receive buffer is null!\n");
    EXPECT_EQ(count, 0u);

    model->Answer(Pattern(512)); // then the device falls silent
    std::vector<uint8_t> buf(1300);
    CaptureStderr();
    EXPECT_EQ(fex.Fex_Recv(&handle, buf.data(), 1300, count), 272);
    EXPECT_EQ(GetCapturedStderr(), "Fex_Recv error: Input/output error\n");
    EXPECT_EQ(count, 512u);
    EXPECT_EQ(model->Trace(), "R512 R512");
}

TEST_F(WireTest, LengthsOf2To31OrMoreAreRefusedNotReportedAsDone)
{
    uint8_t buf[16] = {};
    unsigned count = 7;
    CaptureStderr();
    EXPECT_EQ(fex.Fex_Send(&handle, buf, 0x80000000u, count), 200);
    EXPECT_EQ(fex.Fex_Recv(&handle, buf, 0xFFFFFFFFu, count), 272);
    EXPECT_EQ(GetCapturedStderr(),
        "Fex_Send error: Invalid argument\nFex_Recv error: Invalid argument\n");
    EXPECT_EQ(count, 0u);
    EXPECT_TRUE(model->requests.empty());
}

// --- One USB transfer -----------------------------------------------------

TEST_F(WireTest, TransferFramesTheDataPhaseWithRequestBlockAndStatusReply)
{
    const auto device = Pattern(1300);
    model->Answer(Join({device, StatusReply()}));
    std::vector<uint8_t> in(1300);
    ASSERT_EQ(fex.Fex_transmit_receive(&handle, in.data(), 1300, 0x11), 0);
    EXPECT_EQ(in, device);
    EXPECT_EQ(model->Trace(), "Q11/1300 R512 R512 R276 R13");
    EXPECT_EQ(model->requests[0].bytes, RequestBlock(1300, 0x11));

    model->requests.clear();
    auto out = Pattern(700000, 5);
    model->Answer(StatusReply());
    ASSERT_EQ(fex.Fex_transmit_receive(&handle, out.data(), 700000, 0x12), 0);
    EXPECT_EQ(model->Trace(), "Q12/700000 S327680 S327680 S44640 R13");
    EXPECT_EQ(model->SentData(), out);
}

TEST_F(WireTest, TransferWithAnUnknownDirectionStopsAfterTheRequestBlock)
{
    uint8_t buf[16] = {};
    model->Answer(StatusReply());
    CaptureStderr();
    EXPECT_EQ(fex.Fex_transmit_receive(&handle, buf, 16, 0x13), 347);
    EXPECT_EQ(GetCapturedStderr(), "Fex_transmit_receive Error: eFexCore.cpp, 347\n");
    EXPECT_EQ(model->Trace(), "Q13/16");
}

TEST_F(WireTest, StatusReplyNeedsMagicQXUSAndStatusZero)
{
    struct Case {
        std::vector<uint8_t> reply;
        int result;
    };
    auto residue = StatusReply();
    std::fill(residue.begin() + 4, residue.begin() + 12, 0xEE); // tag and residue: not examined
    const Case cases[] = {
        {StatusReply(), 0},
        {residue, 0},
        {StatusReply(1), 364},
        {StatusReply(0x80), 364},
        {StatusReply(0, "QXUT"), 364},
        {StatusReply(0, "qxus"), 364},
    };
    uint8_t buf[8] = {};
    for (const Case& c : cases) {
        model->Answer(c.reply);
        CaptureStderr();
        EXPECT_EQ(fex.Fex_transmit_receive(&handle, buf, 0, 0x12), c.result);
        const std::string log = GetCapturedStderr();
        EXPECT_EQ(log, c.result ? "Fex_transmit_receive Error: eFexCore.cpp, 364\n" : "");
    }
}

TEST_F(WireTest, TransferPassesTheFailingCallsCodeOutward)
{
    uint8_t buf[64] = {};
    CaptureStderr();
    model->FailRequest(0, EPIPE); // the request block
    EXPECT_EQ(fex.Fex_transmit_receive(&handle, buf, 64, 0x12), 200);
    model->FailRequest(1, EPIPE); // the data
    EXPECT_EQ(fex.Fex_transmit_receive(&handle, buf, 64, 0x12), 200);
    EXPECT_EQ(fex.Fex_transmit_receive(&handle, buf, 64, 0x11), 272); // device silent
    EXPECT_EQ(fex.Fex_transmit_receive(&handle, nullptr, 64, 0x11), 239);
    EXPECT_EQ(fex.Fex_transmit_receive(&handle, nullptr, 64, 0x12), 168);
    EXPECT_EQ(fex.Fex_transmit_receive(&handle, buf, 0, 0x11), 357); // no status reply
    EXPECT_EQ(GetCapturedStderr(),
        "Fex_Send error: Broken pipe\n"
        "Fex_transmit_receive Error: eFexCore.cpp, 318\n"
        "Fex_Send error: Broken pipe\n"
        "Fex_transmit_receive Error: eFexCore.cpp, 331\n"
        "Fex_Recv error: Input/output error\n"
        "Fex_transmit_receive Error: eFexCore.cpp, 331\n"
        "Receive buffer is null!\n"
        "Fex_transmit_receive Error: eFexCore.cpp, 331\n"
        "Try write null buffer to the device!\n"
        "Fex_transmit_receive Error: eFexCore.cpp, 331\n"
        "Fex_Recv error: Input/output error\n"
        "Fex_transmit_receive Error: eFexCore.cpp, 357\n");
}

// --- One FEX command ------------------------------------------------------

std::vector<uint8_t> Block(uint16_t code, uint32_t param4 = 0, uint8_t byte13 = 0)
{
    std::vector<uint8_t> block(16, 0);
    std::memcpy(&block[0], &code, 2);
    std::memcpy(&block[4], &param4, 4);
    block[13] = byte13;
    return block;
}

enum class Data { None, In, Out, Stop };

// The device's side of a whole command: each phase's reply, in order.
void AnswerCommand(
    ScriptedModel& model, Data data, const std::vector<uint8_t>& dataIn = {}, uint8_t fexResult = 0)
{
    model.Answer(StatusReply());
    if (data == Data::In)
        model.Answer(dataIn);
    if (data == Data::In || data == Data::Out)
        model.Answer(StatusReply());
    model.Answer(Join({FexStatus(fexResult), StatusReply()}));
}

TEST_F(WireTest, CommandExchangeIsByteExact)
{
    // CMD_FEL_RUN: command phase and FEX status phase only.
    auto block = Block(0x0102, 0x40000000);
    AnswerCommand(*model, Data::None);
    ASSERT_EQ(fex.Fex_command(&handle, block.data(), nullptr, 0), 0);
    ASSERT_EQ(model->Trace(), "Q12/16 S16 R13 Q11/8 R8 R13");
    const std::vector<uint8_t> commandPhase = {'Q', 'X', 'U', 'C', 0, 0, 0, 0, 0x10, 0, 0, 0, 0, 0,
        0, 0x0C, 0x12, 0, 0x10, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0};
    const std::vector<uint8_t> statusPhase = {'Q', 'X', 'U', 'C', 0, 0, 0, 0, 0x08, 0, 0, 0, 0, 0,
        0, 0x0C, 0x11, 0, 0x08, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0};
    EXPECT_EQ(model->requests[0].bytes, commandPhase);
    EXPECT_EQ(model->requests[1].bytes, block);
    EXPECT_EQ(model->requests[3].bytes, statusPhase);
}

struct Row {
    const char* what;
    uint16_t code;
    uint32_t param4; // u32 at offset 4 (byte 4 is its low byte)
    uint8_t byte13;
    bool buffer;
    unsigned length;
    Data data;
    int result;
    const char* log; // stderr, "" when nothing is logged
};

const Row kRows[] = {
    {"verify", 0x0001, 0, 0, true, 32, Data::In, 0, ""},
    {"verify, null buffer", 0x0001, 0, 0, false, 32, Data::Stop, 421, ""},
    {"0x0002", 0x0002, 0, 0, true, 64, Data::None, 0, ""},
    {"is ready", 0x0003, 0, 0, true, 20, Data::In, 0, ""},
    {"is ready, null buffer", 0x0003, 0, 0, false, 20, Data::Stop, 448, ""},
    {"command set version", 0x0004, 0, 0, true, 16, Data::In, 0, ""},
    {"command set version, null buffer", 0x0004, 0, 0, false, 16, Data::Stop, 464, ""},
    {"0x0010", 0x0010, 0, 0, true, 64, Data::None, 0, ""},
    {"fel down", 0x0101, 0, 0, true, 1300, Data::Out, 0, ""},
    {"fel down, length 0", 0x0101, 0, 0, true, 0, Data::None, 0, ""},
    {"fel down, null buffer", 0x0101, 0, 0, false, 64, Data::None, 0, ""},
    {"fel run", 0x0102, 0, 0, true, 64, Data::None, 0, ""},
    {"fel up", 0x0103, 0, 0, true, 1300, Data::In, 0, ""},
    {"fel up, length 0", 0x0103, 0, 0, true, 0, Data::None, 0, ""},
    {"fel up, null buffer", 0x0103, 0, 0, false, 64, Data::None, 0, ""},
    {"fes trans, direction 1", 0x0201, 0, 0x10, true, 70000, Data::Out, 0, ""},
    {"fes trans, direction 0", 0x0201, 0, 0x00, true, 64, Data::Out, 0, ""},
    {"fes trans, direction 2 with marks", 0x0201, 0, 0xE0, true, 1300, Data::In, 0, ""},
    {"fes trans, bits 3", 0x0201, 0, 0x30, true, 64, Data::Stop, 0, ""},
    {"fes trans, null buffer", 0x0201, 0, 0x30, false, 64, Data::None, 0, ""},
    {"fes trans, length 0", 0x0201, 0, 0x20, true, 0, Data::None, 0, ""},
    {"fes run", 0x0202, 0, 0, true, 40, Data::Out, 0, ""},
    {"fes run, null buffer", 0x0202, 0, 0, false, 40, Data::Stop, 557, ""},
    {"fes info, plain", 0x0203, 0x00, 0, true, 32, Data::In, 0, ""},
    {"fes info, plain, null buffer", 0x0203, 0x00, 0, false, 32, Data::Stop, 573, ""},
    {"fes info, form 1 read", 0x0203, 0x17, 0, true, 32, Data::In, 0, ""},
    {"fes info, form 1 write", 0x0203, 0x18, 0, true, 32, Data::Out, 0, ""},
    {"fes info, form 2", 0x0203, 0x20, 0, true, 32, Data::Stop, 614,
        "Fex_command Error eFexCore.cpp 614\n"},
    {"fes info, form 15", 0x0203, 0xF0, 0, true, 32, Data::Stop, 614,
        "Fex_command Error eFexCore.cpp 614\n"},
    {"get msg, length matches", 0x0204, 1024, 0, true, 1024, Data::In, 0, ""},
    {"get msg, length 0 announced", 0x0204, 0, 0, true, 1024, Data::None, 0, ""},
    {"get msg, mismatch", 0x0204, 1024, 0, true, 512, Data::Stop, 626, ""},
    {"unknown 0x0300", 0x0300, 0, 0, true, 64, Data::Stop, 642, ""},
    {"unknown 0x0000", 0x0000, 0, 0, true, 64, Data::Stop, 642, ""},
};

void PrintTo(const Row& row, std::ostream* os)
{
    *os << row.what;
}

class CommandTable : public WireTest, public testing::WithParamInterface<Row> { };

TEST_P(CommandTable, DataPhaseRefusalsAndEarlyReturns)
{
    const Row& row = GetParam();
    auto block = Block(row.code, row.param4, row.byte13);
    std::vector<uint8_t> device = Pattern(row.length, 11);
    if (device.size() >= 8)
        std::memcpy(device.data(), "QXUSBFEX", 8);
    std::vector<uint8_t> buffer = Pattern(row.length, 200);
    const std::vector<uint8_t> original = buffer;
    AnswerCommand(*model, row.data, device);

    CaptureStderr();
    CaptureStdout();
    const int result
        = fex.Fex_command(&handle, block.data(), row.buffer ? buffer.data() : nullptr, row.length);
    const std::string out = GetCapturedStdout();
    EXPECT_EQ(GetCapturedStderr(), row.log);
    EXPECT_EQ(result, row.result);

    std::string expected = "Q12/16 S16 R13";
    const std::string length = std::to_string(row.length);
    if (row.data == Data::In)
        expected += " Q11/" + length + " " + Chunks('R', row.length, 512) + " R13";
    if (row.data == Data::Out)
        expected += " Q12/" + length + " " + Chunks('S', row.length, 327680) + " R13";
    if (row.data != Data::Stop)
        expected += " Q11/8 R8 R13";
    EXPECT_EQ(model->Trace(), expected);

    std::vector<uint8_t> sent = block;
    if (row.data == Data::Out)
        sent.insert(sent.end(), original.begin(), original.end());
    EXPECT_EQ(model->SentData(), sent);
    EXPECT_EQ(buffer, row.data == Data::In ? device : original);

    const bool skipNote = row.code == 0x0204 && row.param4 == 0;
    EXPECT_EQ(out,
        skipNote ? "get_msg \xc3\xfc\xc1\xee\xbd\xd7\xb6\xce\xca\xfd\xbe\xdd\xb3\xa4\xb6\xc8=0,"
                   "\xcc\xf8\xb9\xfd\n"
                 : "");
}

INSTANTIATE_TEST_SUITE_P(EveryRow, CommandTable, testing::ValuesIn(kRows),
    [](const testing::TestParamInfo<Row>& info) { return "row" + std::to_string(info.index); });

TEST_F(WireTest, VerifyReplyWithoutMagicGives434AndNoStatusPhase)
{
    auto block = Block(0x0001);
    uint8_t reply[32] = {};
    for (std::vector<uint8_t> device : {Pattern(32), Pattern(4)}) {
        if (device.size() == 4)
            std::memcpy(device.data(), "QXUS", 4); // too short to carry the magic
        model->requests.clear();
        AnswerCommand(*model, Data::In, device);
        CaptureStderr();
        EXPECT_EQ(fex.Fex_command(&handle, block.data(), reply, device.size()), 434);
        EXPECT_EQ(GetCapturedStderr(), "Fex_command Error eFexCore.cpp 434\n");
        EXPECT_EQ(model->Trace(),
            "Q12/16 S16 R13 Q11/" + std::to_string(device.size()) + " R"
                + std::to_string(device.size()) + " R13");
        model->DropOutput(); // the FEX status that was never read
    }
}

TEST_F(WireTest, FexStatusByte4DecidesTheResult)
{
    auto block = Block(0x0102);
    AnswerCommand(*model, Data::None, {}, 1);
    CaptureStderr();
    EXPECT_EQ(fex.Fex_command(&handle, block.data(), nullptr, 0), 659);
    EXPECT_EQ(GetCapturedStderr(), "Fex_command Error eFexCore.cpp 659\n");

    // The other seven bytes are not examined.
    model->Answer(StatusReply());
    model->Answer(Join({{0xFF, 0xFF, 0xFF, 0xFF, 0x00, 0xFF, 0xFF, 0xFF}, StatusReply()}));
    EXPECT_EQ(fex.Fex_command(&handle, block.data(), nullptr, 0), 0);
}

TEST_F(WireTest, CommandPassesInnerCodesOutward)
{
    auto block = Block(0x0103);
    uint8_t buf[64];
    CaptureStderr();
    model->FailRequest(0, EPIPE); // sending the command phase's request block
    EXPECT_EQ(fex.Fex_command(&handle, block.data(), buf, 64), 200);
    EXPECT_EQ(GetCapturedStderr(),
        "Fex_Send error: Broken pipe\n"
        "Fex_transmit_receive Error: eFexCore.cpp, 318\n"
        "Fex_command Error eFexCore.cpp 401\n");

    model->requests.clear();
    model->Answer(StatusReply());
    model->Answer(Join({Pattern(64), StatusReply(2)})); // data phase reply bad
    CaptureStderr();
    EXPECT_EQ(fex.Fex_command(&handle, block.data(), buf, 64), 364);
    EXPECT_EQ(GetCapturedStderr(),
        "Fex_transmit_receive Error: eFexCore.cpp, 364\n"
        "Fex_command Error eFexCore.cpp 410\n");
    EXPECT_EQ(model->Trace(), "Q12/16 S16 R13 Q11/64 R64 R13");

    model->Answer(StatusReply());
    model->Answer(Join({Pattern(64), StatusReply()}));
    model->Answer(FexStatus(0)); // then no status reply
    CaptureStderr();
    EXPECT_EQ(fex.Fex_command(&handle, block.data(), buf, 64), 357);
    EXPECT_EQ(GetCapturedStderr(),
        "Fex_Recv error: Input/output error\n"
        "Fex_transmit_receive Error: eFexCore.cpp, 357\n"
        "Fex_command Error eFexCore.cpp 651\n");
}

TEST_F(WireTest, TransfersAndCommandsRefuseSuchLengthsBeforeAnythingGoesOut)
{
    uint8_t buf[16] = {};
    CaptureStderr();
    EXPECT_EQ(fex.Fex_transmit_receive(&handle, buf, 0x80000000u, 0x12), 200);
    EXPECT_EQ(fex.Fex_transmit_receive(&handle, buf, 0xFFFFFFFFu, 0x11), 272);
    auto down = Block(0x0101);
    EXPECT_EQ(fex.Fex_command(&handle, down.data(), buf, 0x80000000u), 200);
    auto message = Block(0x0204, 0x80000000u);
    EXPECT_EQ(fex.Fex_command(&handle, message.data(), buf, 0x80000000u), 272);
    const std::string send = "Fex_Send error: Invalid argument\n";
    const std::string recv = "Fex_Recv error: Invalid argument\n";
    const std::string transfer = "Fex_transmit_receive Error: eFexCore.cpp, 305\n";
    const std::string command = "Fex_command Error eFexCore.cpp 395\n";
    EXPECT_EQ(GetCapturedStderr(),
        send + transfer + recv + transfer + send + transfer + command + recv + transfer + command);
    EXPECT_TRUE(model->requests.empty());

    // Without a data phase the length is never announced.
    AnswerCommand(*model, Data::None);
    EXPECT_EQ(fex.Fex_command(&handle, down.data(), nullptr, 0x80000000u), 0);
}

} // namespace
