// The FEX command set: command codes, the reply records the plug-in reads,
// and the commands that build a 16-byte block and run it through the
// transport's Fex_command. Results: 0 (or the byte count of a FEL transfer)
// on success, -1 on failure; the transport's own code is not passed on.
// Common commands log to the debug error log, FEL commands to the debug
// message log, FES commands straight to standard error. The log texts are
// fixed as they stand, odd wording and trailing blanks ("exec cmd err \n")
// included: kept on purpose.
#pragma once

#include <cstddef>
#include <cstdint>

#include "EfexIf.h"
#include "Export.h"
#include "FexProtocol.h"
#include "efex_priv.h"

static_assert(__BYTE_ORDER__ == __ORDER_LITTLE_ENDIAN__,
    "reply records are read in place and are little-endian on the wire");

// One FEL transfer call moves at most this much; FES transfers go in chunks
// of the same size.
constexpr unsigned FEX_TRANS_CHUNK = 32768;
// A FES message read is always this long.
constexpr unsigned FES_MSG_LENGTH = 1024;

struct tag_VERIFY_DEV_DATA {
    char magic[CMD_COMMON_VERIFY_DEV_MAGIC_LENGTH];
    uint8_t reserved0[8];
    uint16_t stage_mode; // 1 FEL, 2 FES
    uint8_t reserved1;
    uint8_t data_length_log2; // the private-data area holds 2^n bytes
    uint32_t data_start_address;
    uint8_t reserved2[8];
};
static_assert(sizeof(tag_VERIFY_DEV_DATA) == 32);
static_assert(offsetof(tag_VERIFY_DEV_DATA, stage_mode) == 16);
static_assert(offsetof(tag_VERIFY_DEV_DATA, data_length_log2) == 19);
static_assert(offsetof(tag_VERIFY_DEV_DATA, data_start_address) == 20);

// Read whole and handed on; the plug-in does not interpret them.
struct tag_IS_READY_DATA {
    uint8_t data[20];
};
struct tag_GET_CMD_SET_VER_DATA {
    uint8_t data[16];
};
struct tag_INFO_DATA {
    uint8_t data[32];
};

VEMORA_EXPORT int cmd_common_verify_dev(void* handle, tag_EFEX_IF* table, tag_VERIFY_DEV_DATA* out);
VEMORA_EXPORT int cmd_common_get_cmd_set_vers(
    tag_TOOL_THREAD_PARA* para, tag_GET_CMD_SET_VER_DATA* out);
VEMORA_EXPORT int cmd_common_is_ready(tag_TOOL_THREAD_PARA* para, tag_IS_READY_DATA* out);

// FEL transfers: source first, destination second; the device side is an
// address carried in the pointer. At most 32768 bytes per call.
VEMORA_EXPORT int cmd_fel_up(
    tag_EFEX_IF* table, void* handle, unsigned char* src, void* dst, unsigned len);
VEMORA_EXPORT int cmd_fel_down(
    tag_EFEX_IF* table, void* handle, unsigned char* src, void* dst, unsigned len);
VEMORA_EXPORT int _cmd_fel_trans_many(tag_EFEX_IF* table, void* handle, unsigned char* src,
    void* dst, unsigned len, unsigned char down);
VEMORA_EXPORT int _cmd_fel_trans_once(tag_EFEX_IF* table, void* handle, unsigned char* src,
    void* dst, unsigned len, unsigned char down);
VEMORA_EXPORT int cmd_fel_run(tag_TOOL_THREAD_PARA* para, unsigned addr);

// FES transfers, split into 32768-byte chunks. mark_mode 1 marks the first
// chunk as start, 2 marks as finish every chunk after which less than a
// chunk remains.
VEMORA_EXPORT int cmd_fes_down(tag_EFEX_IF* table, void** handle, unsigned char* src, void* dst,
    unsigned len, unsigned char sel_high, unsigned char sel_low, unsigned char mark_mode);
VEMORA_EXPORT int cmd_fes_up(tag_EFEX_IF* table, void** handle, unsigned char* src, void* dst,
    unsigned len, unsigned char sel_high, unsigned char sel_low, unsigned char mark_mode);
VEMORA_EXPORT int _cmd_fes_trans(tag_EFEX_IF* table, void** handle, unsigned char* src, void* dst,
    int len, unsigned char sel_high, unsigned char sel_low, unsigned char mark_mode,
    unsigned char down);
VEMORA_EXPORT int cmd_fes_run(tag_EFEX_IF* table, void** handle, unsigned addr,
    unsigned char run_sel, unsigned char run_flag, unsigned char* param, unsigned char param_len);
VEMORA_EXPORT int cmd_fes_info(
    tag_EFEX_IF* table, void** handle, tag_INFO_DATA* info, unsigned len);
VEMORA_EXPORT int cmd_fes_get_msg(
    tag_EFEX_IF* table, void** handle, unsigned char* buf, unsigned* len_out);
// Returns 0 and does nothing. "supper" is the exported name callers know; kept on purpose.
VEMORA_EXPORT int cmd_fes_supper_down_file();
