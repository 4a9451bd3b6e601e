#include "stage_buffer.h"

#include <cstdint>

#include "FexDevice/dev_manager.h"
#include "FexDevice/fex_cmd.h"
#include "PyrraDebug.h"

namespace {

constexpr const char* SOURCE_NAME = "./FexDevice/stage/stage_buffer";

// The PANIC lines below keep their wording ("get errer stage", "can not this
// cmd", "pyrra_priv_data too big,fail", " ,fail"): fixed log texts, kept on purpose.

enum : uint16_t {
    STAGE_MODE_FEL = 1,
    STAGE_MODE_FES = 2,
};

// The raw handle of one open-verify-act-close cycle. Leaving a cycle early
// closes the node without looking at the result; the regular end closes it
// with Close() and checks.
class RawNode {
public:
    explicit RawNode(tag_EFEX_IF* efex_if)
        : m_pEfexIf(efex_if)
    {
    }
    RawNode(const RawNode&) = delete;
    RawNode& operator=(const RawNode&) = delete;
    ~RawNode()
    {
        if (m_bOpen)
            dev_manager_close_raw_dev(m_pEfexIf, &m_hDev);
    }

    int Open(const char* path)
    {
        int ret = dev_manager_open_raw_dev(m_pEfexIf, const_cast<char*>(path), &m_hDev);
        m_bOpen = ret == 0;
        return ret;
    }

    bool Close()
    {
        m_bOpen = false;
        return dev_manager_close_raw_dev(m_pEfexIf, &m_hDev) == 0;
    }

    void* Handle() const { return m_hDev; }
    void** HandleRef() { return &m_hDev; }

private:
    tag_EFEX_IF* m_pEfexIf;
    void* m_hDev = nullptr;
    bool m_bOpen = false;
};

unsigned char* AddressPtr(uint32_t address)
{
    return reinterpret_cast<unsigned char*>(static_cast<uintptr_t>(address));
}

enum class Stage { Fel, Fes };

const char* ReadName(Stage stage)
{
    return stage == Stage::Fel ? "GetFelPrivateData" : "GetFesPrivateData";
}

const char* WriteName(Stage stage)
{
    return stage == Stage::Fel ? "SetFelPrivateData" : "SetFesPrivateData";
}

// The start of a private-data cycle: arguments, open, verify. False when the
// cycle ends here (logged); the node's owner then closes it.
bool StartCycle(const char* name, tag_EFEX_IF* efex_if, const char* path, const void* buf,
    RawNode& node, tag_VERIFY_DEV_DATA& verify)
{
    if (efex_if == nullptr || path == nullptr || buf == nullptr) {
        PyrraDebug::DebugMsg("PANIC : %s() : input == NULL\n", name);
        return false;
    }
    if (node.Open(path) != 0) {
        PyrraDebug::DebugMsg("PANIC : %s() : open raw dev fail\n", name);
        return false;
    }
    if (cmd_common_verify_dev(node.Handle(), efex_if, &verify) != 0) {
        PyrraDebug::DebugMsg("PANIC : %s() : run verify dev cmd ,fail\n", name);
        return false;
    }
    return true;
}

// The regular end of a private-data cycle: 0, or -1 when the close fails.
int EndCycle(const char* name, RawNode& node)
{
    if (!node.Close()) {
        PyrraDebug::DebugMsg("PANIC : %s() : close raw dev fail\n", name);
        return -1;
    }
    return 0;
}

int ReadPrivateData(Stage stage, tag_EFEX_IF* efex_if, const char* path, void* buf, unsigned len)
{
    const char* name = ReadName(stage);
    RawNode node(efex_if);
    tag_VERIFY_DEV_DATA verify {};
    if (!StartCycle(name, efex_if, path, buf, node, verify))
        return -1;

    const uint16_t wanted = stage == Stage::Fel ? STAGE_MODE_FEL : STAGE_MODE_FES;
    if (verify.stage_mode != wanted) {
        if (verify.stage_mode == STAGE_MODE_FES)
            PyrraDebug::DebugMsg("PANIC : %s() : current at fes ,can not this cmd\n", name);
        else if (verify.stage_mode == STAGE_MODE_FEL)
            PyrraDebug::DebugMsg("PANIC : %s() : current at fel ,can not this cmd\n", name);
        else
            PyrraDebug::DebugMsg("PANIC : %s() : get errer stage\n", name);
        return -1;
    }

    unsigned char* area = AddressPtr(verify.data_start_address);
    if (stage == Stage::Fel) {
        if (cmd_fel_up(efex_if, node.Handle(), area, buf, len) < 0) {
            PyrraDebug::DebugMsg("PANIC : %s() : run fel_up cmd ,fail\n", name);
            return -1;
        }
    } else if (cmd_fes_up(efex_if, node.HandleRef(), area, buf, len, 0, 0, 0) < 0) {
        PyrraDebug::DebugMsg("PANIC : %s() : run fes_up cmd ,fail\n", name);
        return -1;
    }
    return EndCycle(name, node);
}

int WritePrivateData(Stage stage, tag_EFEX_IF* efex_if, const char* path, void* buf, unsigned len)
{
    const char* name = WriteName(stage);
    RawNode node(efex_if);
    tag_VERIFY_DEV_DATA verify {};
    if (!StartCycle(name, efex_if, path, buf, node, verify))
        return -1;

    // An area of 2^32 bytes or more cannot be described by a 32-bit address:
    // the answer is malformed.
    if (verify.data_length_log2 > 31) {
        PyrraDebug::DebugMsg("PANIC : %s() : bad data_length_log2 %u,fail\n", name,
            static_cast<unsigned>(verify.data_length_log2));
        return -1;
    }
    const unsigned capacity = 1u << verify.data_length_log2;
    if (len > capacity) {
        PyrraDebug::DebugMsg("PANIC : %s() : down pyrra_priv_data too big,fail\n", name);
        return -1;
    }

    unsigned char* data = static_cast<unsigned char*>(buf);
    unsigned char* area = AddressPtr(verify.data_start_address);
    if (stage == Stage::Fel) {
        if (cmd_fel_down(efex_if, node.Handle(), data, area, len) < 0) {
            PyrraDebug::DebugMsg("PANIC : %s() : run fel_down cmd ,fail\n", name);
            return -1;
        }
    } else if (cmd_fes_down(efex_if, node.HandleRef(), data, area, len, 0, 0, 0) < 0) {
        PyrraDebug::DebugMsg("PANIC : %s() : run fes_down cmd ,fail\n", name);
        return -1;
    }
    return EndCycle(name, node);
}

} // namespace

int GetCurrentStage(tag_EFEX_IF* efex_if, const char* path, unsigned* stage)
{
    if (path == nullptr || stage == nullptr || efex_if == nullptr) {
        PyrraDebug::DebugMsg("PANIC : GetCurrentStage() : input == NULL\n");
        return STAGE_NULL_ARG;
    }
    RawNode node(efex_if);
    int ret = node.Open(path);
    if (ret != 0 || node.Handle() == nullptr) {
        PyrraDebug::DebugMsg("\ndev_manager_open_raw_dev failed %d %s\n", ret, SOURCE_NAME);
        return STAGE_OPEN_FAILED;
    }
    tag_VERIFY_DEV_DATA verify {};
    if (cmd_common_verify_dev(node.Handle(), efex_if, &verify) != 0) {
        PyrraDebug::DebugMsg("PANIC : GetCurrentStage() : run verify dev cmd ,fail\n");
        return STAGE_VERIFY_FAILED;
    }
    switch (verify.stage_mode) {
    case STAGE_MODE_FEL:
        *stage = DEVICE_STAGE_FEL;
        break;
    case STAGE_MODE_FES:
        *stage = DEVICE_STAGE_FES;
        break;
    default:
        PyrraDebug::DebugMsg("PANIC : GetCurrentStage() : get errer stage %d\n", verify.stage_mode);
        return STAGE_UNKNOWN_MODE;
    }
    if (!node.Close()) {
        PyrraDebug::DebugMsg("PANIC : GetCurrentStage() : close raw dev fail\n");
        return STAGE_CLOSE_FAILED;
    }
    return 0;
}

int GetFelPrivateData(tag_EFEX_IF* efex_if, const char* path, void* buf, unsigned len)
{
    return ReadPrivateData(Stage::Fel, efex_if, path, buf, len);
}

int GetFesPrivateData(tag_EFEX_IF* efex_if, const char* path, void* buf, unsigned len)
{
    return ReadPrivateData(Stage::Fes, efex_if, path, buf, len);
}

int SetFelPrivateData(tag_EFEX_IF* efex_if, const char* path, void* buf, unsigned len)
{
    return WritePrivateData(Stage::Fel, efex_if, path, buf, len);
}

int SetFesPrivateData(tag_EFEX_IF* efex_if, const char* path, void* buf, unsigned len)
{
    return WritePrivateData(Stage::Fes, efex_if, path, buf, len);
}
