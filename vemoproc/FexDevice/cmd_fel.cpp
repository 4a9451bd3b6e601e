#include <cstdint>

#include "PyrraDebug.h"
#include "cmd_block.h"
#include "fex_cmd.h"

namespace {

// Both positions must be given, and the host one is never null: a read into
// no buffer would make the transport skip the data phase and report success.
bool FelArgsMissing(tag_EFEX_IF* table, void* handle, unsigned char* src, void* dst, unsigned len,
    unsigned char down)
{
    return table == nullptr || handle == nullptr || src == nullptr || len == 0
        || (!down && dst == nullptr);
}

} // namespace

// The lines of both routines name the down step ("_cmd_fel_down()",
// "cmd_fel_down()") whatever the direction, and say "too for once trans":
// fixed log texts, kept on purpose.
int _cmd_fel_trans_once(tag_EFEX_IF* table, void* handle, unsigned char* src, void* dst,
    unsigned len, unsigned char down)
{
    if (FelArgsMissing(table, handle, src, dst, len, down)) {
        PyrraDebug::DebugMsg("PANIC : _cmd_fel_down() : input == NULL\n");
        return -1;
    }
    if (len > FEX_TRANS_CHUNK) {
        PyrraDebug::DebugMsg("PANIC : _cmd_fel_down() : too for once trans\n");
        return -1;
    }
    tag_FEX_CMD cmd = MakeFexCmd(down ? CMD_FEL_DOWN : CMD_FEL_UP);
    PutCmdU32(cmd, 4, DeviceAddress(down ? dst : src));
    PutCmdU32(cmd, 8, len);
    unsigned char* data = down ? src : static_cast<unsigned char*>(dst);
    if (table->Fex_command(&handle, &cmd, data, len) != 0) {
        PyrraDebug::DebugMsg("PANIC : _cmd_fel_down() : exec cmd err \n");
        return -1;
    }
    return static_cast<int>(len);
}

int _cmd_fel_trans_many(tag_EFEX_IF* table, void* handle, unsigned char* src, void* dst,
    unsigned len, unsigned char down)
{
    if (FelArgsMissing(table, handle, src, dst, len, down)) {
        PyrraDebug::DebugMsg("PANIC : cmd_fel_down() : input == NULL\n");
        PyrraDebug::DebugMsg(
            "PANIC : efex_interf = %p , dev_handle = %ld ,src_buff = %p ,len = %u\n",
            static_cast<void*>(table), static_cast<long>(reinterpret_cast<intptr_t>(handle)),
            static_cast<void*>(src), len);
        return -1;
    }
    if (len > FEX_TRANS_CHUNK) {
        PyrraDebug::DebugMsg("PANIC : cmd_fel_down() : too for once trans\n");
        return -1;
    }
    // One side is a device address, so the positions advance as integers.
    uintptr_t from = reinterpret_cast<uintptr_t>(src);
    uintptr_t to = reinterpret_cast<uintptr_t>(dst);
    for (unsigned left = len; left > 0;) {
        unsigned chunk = left < FEX_TRANS_CHUNK ? left : FEX_TRANS_CHUNK;
        if (_cmd_fel_trans_once(table, handle, reinterpret_cast<unsigned char*>(from),
                reinterpret_cast<void*>(to), chunk, down)
            != static_cast<int>(chunk)) {
            PyrraDebug::DebugMsg("PANIC : cmd_fel_down() : down one time ,error\n");
            return -1;
        }
        from += chunk;
        to += chunk;
        left -= chunk;
    }
    return static_cast<int>(len);
}

int cmd_fel_up(tag_EFEX_IF* table, void* handle, unsigned char* src, void* dst, unsigned len)
{
    return _cmd_fel_trans_many(table, handle, src, dst, len, 0);
}

int cmd_fel_down(tag_EFEX_IF* table, void* handle, unsigned char* src, void* dst, unsigned len)
{
    return _cmd_fel_trans_many(table, handle, src, dst, len, 1);
}

int cmd_fel_run(tag_TOOL_THREAD_PARA* para, unsigned addr)
{
    if (para == nullptr || addr == 0) {
        PyrraDebug::DebugMsg("PANIC : cmd_fel_run() : input == NULL\n");
        return -1;
    }
    tag_EFEX_PRIV_INFO* priv = para->priv_info;
    if (priv == nullptr) {
        PyrraDebug::DebugMsg("PANIC : cmd_fel_run() : priv_info == NULL\n");
        return -1;
    }
    if (priv->fel_dev_handle == nullptr || priv->fes_dev_handle != nullptr) {
        PyrraDebug::DebugMsg("PANIC : cmd_fel_run() : error dev handle\n");
        return -1;
    }
    if (priv->efex_interf == nullptr) {
        PyrraDebug::DebugMsg("PANIC : cmd_fel_run() : efex_interf == NULL\n");
        return -1;
    }
    tag_FEX_CMD cmd = MakeFexCmd(CMD_FEL_RUN);
    PutCmdU32(cmd, 4, addr);
    if (priv->efex_interf->Fex_command(&priv->fel_dev_handle, &cmd, nullptr, 0) != 0) {
        PyrraDebug::DebugMsg("PANIC : cmd_fel_run() : run fail \n");
        return -1;
    }
    return 0;
}
