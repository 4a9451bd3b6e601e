#include <cstring>

#include "PyrraDebug.h"
#include "cmd_block.h"
#include "fex_cmd.h"

namespace {

// Source name the verify command reports its magic failures under: another
// file's, as the fixed log text has it; kept on purpose.
constexpr const char* STAGE_SOURCE = "./FexDevice/stage/stage_buffer";

// The query commands that run on whichever stage device of the record is
// open, and refuse when none or both are.
int RunQueryCmd(
    const char* name, tag_TOOL_THREAD_PARA* para, uint16_t code, void* out, unsigned out_len)
{
    if (para == nullptr || out == nullptr) {
        PyrraDebug::DebugErr("PANIC : %s() : input == NULL\n", name);
        return -1;
    }
    tag_EFEX_PRIV_INFO* priv = para->priv_info;
    if (priv == nullptr) {
        PyrraDebug::DebugErr("PANIC : %s() : priv_info == NULL\n", name);
        return -1;
    }
    if (priv->fel_dev_handle == nullptr && priv->fes_dev_handle == nullptr) {
        PyrraDebug::DebugErr("PANIC : %s() : no opened dev\n", name);
        return -1;
    }
    tag_FEX_CMD cmd = MakeFexCmd(code);
    memset(out, 0, out_len);
    if (priv->fel_dev_handle != nullptr && priv->fes_dev_handle != nullptr) {
        PyrraDebug::DebugErr("PANIC : %s() : fel fes dev all opened,fail\n", name);
        return -1;
    }
    if (priv->efex_interf == nullptr) {
        PyrraDebug::DebugErr("PANIC : %s() : efex_interf == NULL\n", name);
        return -1;
    }
    void* handle = priv->fel_dev_handle != nullptr ? priv->fel_dev_handle : priv->fes_dev_handle;
    if (priv->efex_interf->Fex_command(&handle, &cmd, static_cast<unsigned char*>(out), out_len)
        != 0) {
        PyrraDebug::DebugErr("PANIC : %s() : exec cmd err \n", name);
        return -1;
    }
    return 0;
}

} // namespace

int cmd_common_verify_dev(void* handle, tag_EFEX_IF* table, tag_VERIFY_DEV_DATA* out)
{
    if (handle == nullptr || table == nullptr || out == nullptr) {
        PyrraDebug::DebugErr("PANIC : cmd_common_verify_dev() : input == NULL\n");
        return -1;
    }
    tag_FEX_CMD cmd = MakeFexCmd(CMD_COMMON_VERIFY_DEV);
    memset(out, 0, sizeof *out);
    if (table->Fex_command(&handle, &cmd, reinterpret_cast<unsigned char*>(out), sizeof *out)
        != 0) {
        PyrraDebug::DebugErr("cmd_common_verify_dev %d\n", __LINE__);
        return -1;
    }
    if (memcmp(out->magic, CMD_COMMON_VERIFY_DEV_MAGIC, sizeof out->magic) != 0) {
        PyrraDebug::DebugErr("%s: CMD_COMMON_VERIFY_DEV_MAGIC error %d\n", STAGE_SOURCE, __LINE__);
        return -1;
    }
    return 0;
}

int cmd_common_get_cmd_set_vers(tag_TOOL_THREAD_PARA* para, tag_GET_CMD_SET_VER_DATA* out)
{
    return RunQueryCmd(
        "cmd_common_get_cmd_set_vers", para, CMD_COMMON_GET_CMD_SET_VER, out, sizeof *out);
}

int cmd_common_is_ready(tag_TOOL_THREAD_PARA* para, tag_IS_READY_DATA* out)
{
    return RunQueryCmd("cmd_common_is_ready", para, CMD_COMMON_IS_READY, out, sizeof *out);
}
