#include <cstdio>
#include <cstring>

#include "cmd_block.h"
#include "fex_cmd.h"

namespace {

// Flags byte of CMD_FES_TRANS (offset 13).
constexpr uint8_t FES_TRANS_DIR_DOWN = 0x10;
constexpr uint8_t FES_TRANS_DIR_UP = 0x20;
constexpr uint8_t FES_TRANS_START = 0x40;
constexpr uint8_t FES_TRANS_FINISH = 0x80;

enum : unsigned char {
    FES_MARK_START = 1,
    FES_MARK_FINISH = 2,
};

uint8_t Nibbles(unsigned char high, unsigned char low)
{
    return static_cast<uint8_t>(((high & 0x0F) << 4) | (low & 0x0F));
}

} // namespace

// The lines name cmd_fes_down() for both directions: fixed log text, kept on purpose.
int _cmd_fes_trans(tag_EFEX_IF* table, void** handle, unsigned char* src, void* dst, int len,
    unsigned char sel_high, unsigned char sel_low, unsigned char mark_mode, unsigned char down)
{
    // A read into no host buffer would make the transport skip the data phase
    // and report success.
    if (table == nullptr || handle == nullptr || src == nullptr || (!down && dst == nullptr)) {
        fputs("PANIC : cmd_fes_down() : input == NULL\n", stderr);
        return -1;
    }
    // The transport counts lengths as signed 32-bit values.
    if (len < 0) {
        fputs("PANIC : cmd_fes_down() : data len too big\n", stderr);
        return -1;
    }
    if (len == 0) {
        fputs("PANIC : cmd_fes_down() : data len == 0\n", stderr);
        return 0;
    }
    uintptr_t host = reinterpret_cast<uintptr_t>(down ? static_cast<void*>(src) : dst);
    uint32_t device = DeviceAddress(down ? dst : static_cast<void*>(src));
    unsigned left = static_cast<unsigned>(len);
    bool first = true;
    while (left > 0) {
        unsigned chunk = left >= FEX_TRANS_CHUNK ? FEX_TRANS_CHUNK : left;
        left -= chunk;

        tag_FEX_CMD cmd = MakeFexCmd(CMD_FES_TRANS);
        PutCmdU32(cmd, 4, device);
        PutCmdU32(cmd, 8, chunk);
        cmd.bytes[12] = Nibbles(sel_high, sel_low);
        uint8_t flags = down ? FES_TRANS_DIR_DOWN : FES_TRANS_DIR_UP;
        if (mark_mode == FES_MARK_START && first) {
            flags |= FES_TRANS_START;
            first = false;
        } else if (mark_mode == FES_MARK_FINISH && left < FEX_TRANS_CHUNK) {
            flags |= FES_TRANS_FINISH;
        }
        cmd.bytes[13] = flags;

        if (table->Fex_command(handle, &cmd, reinterpret_cast<unsigned char*>(host), chunk) != 0) {
            fputs("PANIC : cmd_fes_down() : run fail \n", stderr);
            return -1;
        }
        host += chunk;
        device += chunk;
    }
    return 0;
}

int cmd_fes_down(tag_EFEX_IF* table, void** handle, unsigned char* src, void* dst, unsigned len,
    unsigned char sel_high, unsigned char sel_low, unsigned char mark_mode)
{
    return _cmd_fes_trans(
        table, handle, src, dst, static_cast<int>(len), sel_high, sel_low, mark_mode, 1);
}

int cmd_fes_up(tag_EFEX_IF* table, void** handle, unsigned char* src, void* dst, unsigned len,
    unsigned char sel_high, unsigned char sel_low, unsigned char mark_mode)
{
    return _cmd_fes_trans(
        table, handle, src, dst, static_cast<int>(len), sel_high, sel_low, mark_mode, 0);
}

int cmd_fes_run(tag_EFEX_IF* table, void** handle, unsigned addr, unsigned char run_sel,
    unsigned char run_flag, unsigned char* param, unsigned char param_len)
{
    if (table == nullptr || handle == nullptr || param_len == 0) {
        fputs("PANIC : cmd_fes_run() : input == NULL\n", stderr);
        return -1;
    }
    tag_FEX_CMD cmd = MakeFexCmd(CMD_FES_RUN);
    PutCmdU32(cmd, 4, addr);
    cmd.bytes[8] = Nibbles(run_sel, run_flag & 1);
    if (table->Fex_command(handle, &cmd, param, param_len) != 0) {
        fputs("PANIC : cmd_fes_run() : run fail \n", stderr);
        return -1;
    }
    return 0;
}

int cmd_fes_info(tag_EFEX_IF* table, void** handle, tag_INFO_DATA* info, unsigned len)
{
    if (table == nullptr || handle == nullptr || info == nullptr) {
        fputs("PANIC : cmd_fes_info() : input == NULL\n", stderr);
        return -1;
    }
    if (len > sizeof *info) {
        fputs("PANIC : cmd_fes_info() : info len too big\n", stderr);
        return -1;
    }
    memset(info, 0, sizeof *info);
    // Byte 4 stays 0: the plain read form.
    tag_FEX_CMD cmd = MakeFexCmd(CMD_FES_INFO);
    if (table->Fex_command(handle, &cmd, info->data, len) != 0) {
        fputs("PANIC : cmd_fes_info() : run fail \n", stderr);
        return -1;
    }
    return 0;
}

int cmd_fes_get_msg(tag_EFEX_IF* table, void** handle, unsigned char* buf, unsigned* len_out)
{
    if (table == nullptr || handle == nullptr || buf == nullptr || len_out == nullptr) {
        fputs("PANIC : cmd_fes_get_msg() : input == NULL\n", stderr);
        return -1;
    }
    *len_out = 0;
    tag_FEX_CMD cmd = MakeFexCmd(CMD_FES_GET_MSG);
    PutCmdU32(cmd, 4, FES_MSG_LENGTH);
    if (table->Fex_command(handle, &cmd, buf, FES_MSG_LENGTH) != 0) {
        fputs("PANIC : cmd_fes_get_msg() : run fail \n", stderr);
        return -1;
    }
    *len_out = FES_MSG_LENGTH;
    return 0;
}

// "supper" (not "super") is the exported name; kept on purpose.
int cmd_fes_supper_down_file()
{
    return 0;
}
