// The device layer as its callers get it: VemoProc.Plg and usbwire.dll loaded
// with dlopen, the plug-in's exports called with the transport table of
// usbwire.dll, against boards of the simulated device.
#pragma once

#include "FexDevice/efex_priv.h"
#include "FexDevice/fex_cmd.h"
#include "Pattern.h"
#include "SimDevice.h"
#include "UsbwireTable.h"

#include <gtest/gtest.h>

#include <cstdint>
#include <memory>
#include <string>
#include <vector>

void* PluginSymbol(const char* name);

// An export of VemoProc.Plg, typed after its declaration in the plug-in's
// headers: PLG(cmd_fes_down)(...) calls the one in the loaded file.
template <typename Fn> Fn PluginFunction(const char* name)
{
    void* symbol = PluginSymbol(name);
    if (symbol == nullptr) {
        ADD_FAILURE() << "VemoProc.Plg does not export " << name;
        std::abort();
    }
    return reinterpret_cast<Fn>(symbol);
}
#define PLG(fn) (PluginFunction<decltype(&fn)>(#fn))

// A path no stand-in node and no file answers to.
inline constexpr const char* kMissingNode = "/nonexistent-vemora-dir/qx_efex9";

// Device address carried in a pointer argument.
inline unsigned char* DeviceAddr(uint32_t address)
{
    return reinterpret_cast<unsigned char*>(static_cast<uintptr_t>(address));
}

// The FEX commands a board received after the first `from` of them.
std::vector<simdev::CommandRecord> CommandsSince(const simdev::Board& board, size_t from);
uint32_t BlockU32(const simdev::CommandRecord& record, unsigned offset);

// Each test gets a bus of its own with one board plugged in FEL.
class BoardTest : public testing::Test {
protected:
    void SetUp() override;

    // Plugs the board with `options` in place of the default one.
    void Replug(simdev::BoardOptions options);
    // Carries the board into FES through the plug-in's own FEL commands:
    // a second-stage payload downloaded and run on the FEL device.
    void BringToFes();
    std::string Node() const { return board->NodePath(); }
    char* NodeText() { return const_cast<char*>(node_.c_str()); }
    size_t CommandCount() const { return board->Commands().size(); }

    static simdev::BoardOptions FastOptions();

    tag_EFEX_IF& fex = Fex();
    std::unique_ptr<simdev::Bus> bus;
    std::shared_ptr<simdev::Board> board;

private:
    std::string node_;
};

// A raw handle on the board's node, closed at the end of the test.
class RawHandle {
public:
    explicit RawHandle(const std::string& path);
    ~RawHandle();
    RawHandle(const RawHandle&) = delete;
    RawHandle& operator=(const RawHandle&) = delete;
    void* get() const { return m_handle; }
    void** ref() { return &m_handle; }

private:
    void* m_handle = nullptr;
};

// A device record and the tool-thread record that refers to it.
struct StageRecords {
    explicit StageRecords(const std::string& path, uint32_t mode = DEVICE_OPEN_BY_PATH);
    tag_EFEX_PRIV_INFO priv {};
    tag_TOOL_THREAD_PARA para {};
};
