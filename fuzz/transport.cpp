// Fuzz target: the transport ("usbwire.dll", its Fex_ functions through the
// table of GetInterface) and the FEX command layer of "VemoProc.Plg" (the
// cmd_ functions, the stage and private-data functions) against a device that
// answers arbitrary bytes. The driver stand-in hands every driver request on
// the simulated node to a model that answers from the fuzz input.
//
// Input: operations until the input ends, each an operation byte and its
// arguments; the model takes what it needs from the same input as the
// requests come. For each request the model reads a control byte:
// - a send (host to device): low nibble 0xF fails the request with an error
//   chosen by the high nibble; anything else accepts the bytes;
// - a receive of n bytes, by the byte's low two bits: 0 the status-reply
//   pattern ("QXUS" then zeros, cut to n: a good status reply, and a good
//   FEX status for n = 8), 1 the next n bytes of the input, 2 an error,
//   3 a verify-device reply ("QXUSBFEX", then stage, area size and address
//   from the input), cut to n.
// When the input is used up the device has left: every request fails with
// ENODEV, so every input ends.
//
// Checked besides the sanitizers: every result is one the layer documents;
// a transfer's data phase goes in the announced direction and stays within
// the announced length, and its status reply is 13 bytes; nothing is left
// open on the node; a stage reported is FEL or FES.
#include "FuzzSupport.h"

#include "EfexIf.h"
#include "FexDevice/fex_cmd.h"
#include "FexDevice/stage/stage_buffer.h"
#include "SimDriver.h"

#include <algorithm>
#include <cerrno>
#include <cstring>
#include <memory>
#include <set>
#include <vector>

namespace {

using fuzz::Input;

constexpr char kNode[] = "/dev/qx_efex_fuzz";

// Where the model stands in the transfer the host announced last.
struct Transfer {
    bool open = false;     // a request block was seen and its status is due
    uint8_t direction = 0; // 0x11 device to host, 0x12 host to device
    uint32_t left = 0;     // data bytes still due
};

class FuzzDevice : public simdrv::DeviceModel {
public:
    Input* in = nullptr;
    bool raw = false; // requests outside transfers, as a script may issue them

    int Send(const uint8_t* data, uint32_t length) override
    {
        if (!raw)
            TrackSend(data, length);
        return Fails(Control());
    }

    int Recv(uint8_t* data, uint32_t length) override
    {
        if (!raw)
            TrackRecv(length);
        const uint8_t control = Control();
        if (control == 0xFF) {
            m_transfer.open = false;
            return ENODEV;
        }
        std::memset(data, 0, length);
        switch (control & 3) {
        case 0:
            std::memcpy(data, "QXUS", std::min<uint32_t>(length, 4));
            return 0;
        case 1: {
            const std::string bytes = in->Bytes(length);
            std::memcpy(data, bytes.data(), bytes.size());
            return 0;
        }
        case 2:
            m_transfer.open = false;
            return Error(control);
        default: {
            uint8_t reply[32] = {'Q', 'X', 'U', 'S', 'B', 'F', 'E', 'X'};
            const uint16_t stage = in->Byte() % 4;
            std::memcpy(reply + 16, &stage, 2);
            reply[19] = in->Byte();
            const uint32_t address = in->U32();
            std::memcpy(reply + 20, &address, 4);
            std::memcpy(data, reply, std::min<uint32_t>(length, sizeof reply));
            return 0;
        }
        }
    }

    // A new operation: whatever the last one left half done (a failure ends
    // a transfer where it stands) is over.
    void Reset() { m_transfer = {}; }

private:
    // Within a transfer: data in its direction, no more than announced;
    // anything else opens the next transfer with its request block.
    void TrackSend(const uint8_t* data, uint32_t length)
    {
        if (m_transfer.open && m_transfer.left > 0) {
            FUZZ_CHECK(m_transfer.direction == 0x12 && length <= m_transfer.left);
            m_transfer.left -= length;
            return;
        }
        FUZZ_CHECK(!m_transfer.open && length == 32 && std::memcmp(data, "QXUC", 4) == 0);
        uint32_t announced;
        std::memcpy(&announced, data + 8, 4);
        m_transfer = {data[16] == 0x11 || data[16] == 0x12, data[16], announced};
    }

    // Data in its direction within the announced length, then the status.
    void TrackRecv(uint32_t length)
    {
        FUZZ_CHECK(m_transfer.open);
        if (m_transfer.left > 0) {
            FUZZ_CHECK(m_transfer.direction == 0x11 && length <= m_transfer.left);
            m_transfer.left -= length;
        } else {
            FUZZ_CHECK(length == 13);
            m_transfer.open = false;
        }
    }

    // 0xFF, an error, once the input is used up: the device has left.
    uint8_t Control() { return in->empty() ? 0xFF : in->Byte(); }

    static int Error(uint8_t control)
    {
        static const int errors[] = {EIO, ETIMEDOUT, EPIPE, ENODEV};
        return errors[(control >> 4) % 4];
    }

    int Fails(uint8_t control)
    {
        if (control == 0xFF)
            return ENODEV;
        if ((control & 0x0F) != 0x0F)
            return 0;
        m_transfer.open = false;
        return Error(control);
    }

    Transfer m_transfer;
};

using PrivateDataFn = decltype(&::GetFelPrivateData);
using FelTransFn = decltype(&::cmd_fel_up);
using FesTransFn = decltype(&::cmd_fes_up);

struct Api {
    tag_EFEX_IF* fex;
    decltype(&::GetCurrentStage) GetCurrentStage;
    PrivateDataFn PrivateData[4]; // get FEL, set FEL, get FES, set FES
    decltype(&::cmd_common_verify_dev) verify;
    decltype(&::cmd_common_is_ready) isReady;
    decltype(&::cmd_common_get_cmd_set_vers) cmdSetVers;
    FelTransFn felTrans[2]; // up, down
    decltype(&::cmd_fel_run) felRun;
    FesTransFn fesTrans[2]; // up, down
    decltype(&::cmd_fes_run) fesRun;
    decltype(&::cmd_fes_info) fesInfo;
    decltype(&::cmd_fes_get_msg) fesGetMsg;
};

Api Load()
{
    using fuzz::Resolve;
    void* usbwire = fuzz::OpenLibrary(USBWIRE_DLL);
    void* plg = fuzz::OpenLibrary(VEMOPROC_PLG);
    Api api {};
    api.fex = Resolve<tag_EFEX_IF* (*)(void*)>(usbwire, "GetInterface")(nullptr);
    api.GetCurrentStage = Resolve<decltype(api.GetCurrentStage)>(plg, "GetCurrentStage");
    const char* const privateData[]
        = {"GetFelPrivateData", "SetFelPrivateData", "GetFesPrivateData", "SetFesPrivateData"};
    for (int i = 0; i < 4; ++i)
        api.PrivateData[i] = Resolve<PrivateDataFn>(plg, privateData[i]);
    api.verify = Resolve<decltype(api.verify)>(plg, "cmd_common_verify_dev");
    api.isReady = Resolve<decltype(api.isReady)>(plg, "cmd_common_is_ready");
    api.cmdSetVers = Resolve<decltype(api.cmdSetVers)>(plg, "cmd_common_get_cmd_set_vers");
    api.felTrans[0] = Resolve<FelTransFn>(plg, "cmd_fel_up");
    api.felTrans[1] = Resolve<FelTransFn>(plg, "cmd_fel_down");
    api.felRun = Resolve<decltype(api.felRun)>(plg, "cmd_fel_run");
    api.fesTrans[0] = Resolve<FesTransFn>(plg, "cmd_fes_up");
    api.fesTrans[1] = Resolve<FesTransFn>(plg, "cmd_fes_down");
    api.fesRun = Resolve<decltype(api.fesRun)>(plg, "cmd_fes_run");
    api.fesInfo = Resolve<decltype(api.fesInfo)>(plg, "cmd_fes_info");
    api.fesGetMsg = Resolve<decltype(api.fesGetMsg)>(plg, "cmd_fes_get_msg");
    return api;
}

bool TransportCode(int code)
{
    static const std::set<int> codes = {0, 102, 153, 168, 200, 221, 239, 272, 293, 347, 357, 364,
        388, 421, 434, 448, 464, 557, 573, 614, 626, 642, 659};
    return codes.count(code) == 1;
}

// A host buffer of exactly n bytes (a real one for n = 0 too), so that the
// sanitizer sees any access past it.
struct HostBuffer {
    explicit HostBuffer(size_t n)
        : bytes(new unsigned char[n])
    {
        std::memset(bytes.get(), 0x5A, n);
    }
    std::unique_ptr<unsigned char[]> bytes;
    unsigned char* get() { return bytes.get(); }
};

void* DeviceAddress(Input& in)
{
    return reinterpret_cast<void*>(static_cast<uintptr_t>(in.U32()));
}

// Runs one operation on the open raw handle.
void Operate(const Api& api, FuzzDevice& device, Input& in, void*& handle)
{
    const char* path = kNode;
    device.Reset();
    switch (in.Byte() % 12) {
    case 0: {
        unsigned stage = 0;
        const int ret = api.GetCurrentStage(api.fex, path, &stage);
        FUZZ_CHECK(ret == 0 || ret == STAGE_OPEN_FAILED || ret == STAGE_VERIFY_FAILED
            || ret == STAGE_UNKNOWN_MODE || ret == STAGE_CLOSE_FAILED);
        FUZZ_CHECK(ret != 0 || stage == DEVICE_STAGE_FEL || stage == DEVICE_STAGE_FES);
        break;
    }
    case 1: {
        const int which = in.Byte() % 4;
        const unsigned len = in.U16() % 600;
        HostBuffer buf(len);
        const int ret = api.PrivateData[which](api.fex, path, buf.get(), len);
        FUZZ_CHECK(ret == 0 || ret == -1);
        break;
    }
    case 2: {
        const int down = in.Byte() & 1;
        const unsigned len = in.U32() % 70001;
        const unsigned char sel = in.Byte();
        const unsigned char mark = in.Byte() % 4;
        HostBuffer host(len);
        void* device = DeviceAddress(in);
        const int ret = down
            ? api.fesTrans[1](api.fex, &handle, host.get(), device, len, sel >> 4, sel, mark)
            : api.fesTrans[0](api.fex, &handle, static_cast<unsigned char*>(device), host.get(),
                len, sel >> 4, sel, mark);
        FUZZ_CHECK(ret == 0 || ret == -1);
        break;
    }
    case 3: {
        const int down = in.Byte() & 1;
        const unsigned len = in.U16() % 32770;
        HostBuffer host(len);
        void* device = DeviceAddress(in);
        const int ret = down ? api.felTrans[1](api.fex, handle, host.get(), device, len)
                             : api.felTrans[0](api.fex, handle, static_cast<unsigned char*>(device),
                                 host.get(), len);
        FUZZ_CHECK(ret == -1 || (len > 0 && ret == static_cast<int>(len)));
        break;
    }
    case 4: {
        tag_INFO_DATA info;
        const int ret = api.fesInfo(api.fex, &handle, &info, in.Byte() % 41);
        FUZZ_CHECK(ret == 0 || ret == -1);
        break;
    }
    case 5: {
        HostBuffer msg(FES_MSG_LENGTH);
        unsigned got = 12345;
        const int ret = api.fesGetMsg(api.fex, &handle, msg.get(), &got);
        FUZZ_CHECK((ret == 0 && got == FES_MSG_LENGTH) || (ret == -1 && got == 0));
        break;
    }
    case 6: {
        const unsigned addr = in.U32();
        const unsigned char sel = in.Byte();
        const unsigned char length = in.Byte();
        HostBuffer param(length);
        const int ret = api.fesRun(api.fex, &handle, addr, sel >> 4, sel, param.get(), length);
        FUZZ_CHECK(ret == 0 || ret == -1);
        break;
    }
    case 7: {
        // The record with the raw handle as its FEL or FES handle, or both.
        const int which = in.Byte() % 4;
        const auto kinds = static_cast<uint8_t>(
            (which & 1 ? 1u << EFEX_DEV_FEL : 0u) | (which & 2 ? 1u << EFEX_DEV_FES : 0u));
        tag_EFEX_PRIV_INFO priv {
            api.fex, 1, kinds, which & 1 ? handle : nullptr, which & 2 ? handle : nullptr};
        tag_TOOL_THREAD_PARA para {DEVICE_OPEN_BY_PATH, {}, &priv};
        int ret;
        if (in.Byte() & 1) {
            tag_IS_READY_DATA out;
            ret = api.isReady(&para, &out);
        } else if (in.Byte() & 1) {
            tag_GET_CMD_SET_VER_DATA out;
            ret = api.cmdSetVers(&para, &out);
        } else {
            ret = api.felRun(&para, in.U32());
        }
        FUZZ_CHECK(ret == 0 || ret == -1);
        break;
    }
    case 8: {
        tag_VERIFY_DEV_DATA out;
        const int ret = api.verify(handle, api.fex, &out);
        FUZZ_CHECK(ret == -1 || (ret == 0 && std::memcmp(out.magic, "QXUSBFEX", 8) == 0));
        break;
    }
    case 9: {
        HostBuffer block(FEX_CMD_LENGTH);
        const std::string bytes = in.Bytes(FEX_CMD_LENGTH);
        std::memcpy(block.get(), bytes.data(), bytes.size());
        const bool none = in.Byte() & 1;
        const unsigned len = in.U16() % 2048;
        HostBuffer data(len);
        FUZZ_CHECK(TransportCode(
            api.fex->Fex_command(&handle, block.get(), none ? nullptr : data.get(), len)));
        break;
    }
    case 10: {
        const unsigned char direction = in.Byte();
        const bool none = in.Byte() & 1;
        const unsigned len = in.U16() % 2048;
        HostBuffer data(len);
        FUZZ_CHECK(TransportCode(
            api.fex->Fex_transmit_receive(&handle, none ? nullptr : data.get(), len, direction)));
        break;
    }
    default: {
        device.raw = true;
        const bool send = in.Byte() & 1;
        const unsigned len = in.U16() % 4096;
        HostBuffer data(len);
        unsigned count = 99999;
        const int ret = send ? api.fex->Fex_Send(&handle, data.get(), len, count)
                             : api.fex->Fex_Recv(&handle, data.get(), len, count);
        FUZZ_CHECK(TransportCode(ret) && count <= len && (ret != 0 || count == len));
        device.raw = false;
        break;
    }
    }
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size)
{
    static const Api api = Load();
    static const auto device = [] {
        auto model = std::make_shared<FuzzDevice>();
        simdrv::AttachNode(kNode, model);
        return model;
    }();
    Input in(data, size);
    device->in = &in;

    void* handle = nullptr;
    char path[sizeof kNode];
    std::memcpy(path, kNode, sizeof kNode);
    FUZZ_CHECK(api.fex->Fex_Open(&handle, path) == 0);
    while (!in.empty())
        Operate(api, *device, in, handle);
    FUZZ_CHECK(api.fex->Fex_Close(&handle) == 0);
    FUZZ_CHECK(simdrv::OpenDescriptors(kNode) == 0);
    return 0;
}
