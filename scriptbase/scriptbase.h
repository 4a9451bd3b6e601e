// The exports of scriptbase.dll: the registration entries and script
// functions a tool script reaches through package.loadlib, and the plain
// host-side helpers. Buffer handles are light userdata holding raw
// addresses; the library knows each live buffer's size and refuses, with a
// Lua error, a handle or byte range that is not inside one (handles.h).
// Script functions whose line in the sources says "-> none" still report one
// result without pushing one: the script gets its own last argument back.
#pragma once

#include "BCString.h"
#include "Export.h"

#include <lua.hpp>

// Registration: l_RegAllFun stores all 48 globals (its own seven, then
// RegPathFun, RegBuferFun, RegFileFun). Each reports one result without
// pushing one.
VEMORA_EXPORT int l_RegAllFun(lua_State* L);
VEMORA_EXPORT int RegPathFun(lua_State* L);
VEMORA_EXPORT int RegBuferFun(lua_State* L);
VEMORA_EXPORT int RegFileFun(lua_State* L);

// Buffers ("MallocBuffer" ... "add_sum").
VEMORA_EXPORT int l_MallocBuff(lua_State* L);
VEMORA_EXPORT int l_FreeBuffer(lua_State* L);
VEMORA_EXPORT int l_GetBuffer(lua_State* L);
VEMORA_EXPORT int l_Memcpy(lua_State* L);
VEMORA_EXPORT int l_Memset(lua_State* L);
VEMORA_EXPORT int l_Memcmp(lua_State* L);
VEMORA_EXPORT int l_BufferToString(lua_State* L);
VEMORA_EXPORT int l_StringtoBuffer(lua_State* L);
VEMORA_EXPORT int l_GetMemValue(lua_State* L);
VEMORA_EXPORT int l_SetMemValue(lua_State* L);
VEMORA_EXPORT int l_BuffertoChars(lua_State* L);
VEMORA_EXPORT int l_CharstoBuffer(lua_State* L);
VEMORA_EXPORT int l_GetInt32FrmMem(lua_State* L);
VEMORA_EXPORT int l_SetInt32FrmMem(lua_State* L);
VEMORA_EXPORT int l_GetInt16FrmMem(lua_State* L);
VEMORA_EXPORT int l_SetInt16FrmMem(lua_State* L);
VEMORA_EXPORT int l_GetByteBitsFrmMem(lua_State* L);
VEMORA_EXPORT int l_SetByteBitsFrmMem(lua_State* L);
VEMORA_EXPORT int l_GetIntBitsFrmMem(lua_State* L);
VEMORA_EXPORT int l_SetIntBitsFrmMem(lua_State* L);
VEMORA_EXPORT int l_GetInt8FrmMem(lua_State* L);
VEMORA_EXPORT int l_SetInt8FrmMem(lua_State* L);
VEMORA_EXPORT int l_calc_crc32(lua_State* L);
VEMORA_EXPORT int l_add_sum(lua_State* L);

// Files ("fopen" ... "CopyFile").
VEMORA_EXPORT int l_fopen(lua_State* L);
VEMORA_EXPORT int l_fseek(lua_State* L);
VEMORA_EXPORT int l_fwrite(lua_State* L);
VEMORA_EXPORT int l_fread(lua_State* L);
VEMORA_EXPORT int l_fclose(lua_State* L);
VEMORA_EXPORT int l_fgetALine(lua_State* L);
VEMORA_EXPORT int l_LFOpen(lua_State* L);
VEMORA_EXPORT int l_LFSeek(lua_State* L);
VEMORA_EXPORT int l_LFWrite(lua_State* L);
VEMORA_EXPORT int l_LFRead(lua_State* L);
VEMORA_EXPORT int l_LFClose(lua_State* L);
VEMORA_EXPORT int l_DeleteFile(lua_State* L);
VEMORA_EXPORT int l_CopyFile(lua_State* L);

// Paths ("GetExecPath" ... "GetFileNameFromPath").
VEMORA_EXPORT int l_GetExecPath(lua_State* L);
VEMORA_EXPORT int l_GetCurrentDirectory(lua_State* L);
VEMORA_EXPORT int l_SetCurrentDirectory(lua_State* L);
VEMORA_EXPORT int l_GetFileNameFromPath(lua_State* L);

// Trace and 64-bit values ("MessageBox" ... "Int64Dec").
VEMORA_EXPORT int l_MessageBox(lua_State* L);
VEMORA_EXPORT int l_Exit(lua_State* L);
VEMORA_EXPORT int l_DebugTrace(lua_State* L);
VEMORA_EXPORT int l_TraceBuffer(lua_State* L);
VEMORA_EXPORT int l_CompareInt64(lua_State* L);
VEMORA_EXPORT int l_Int64Add(lua_State* L);
VEMORA_EXPORT int l_Int64Dec(lua_State* L);
// (buffer, offset) -> buffer + offset, like "GetBuffer". Registered by
// nobody; reached only by its exported name.
VEMORA_EXPORT int l_MidBuffer(lua_State* L);

// Host-side helpers.
// CRC-32 of IEEE 802.3 (zlib's), over length bytes.
VEMORA_EXPORT unsigned int calc_crc32(void* data, unsigned int length);
// seed plus the data read as little-endian 32-bit words, the last one padded
// with zero bytes; modulo 2^32.
VEMORA_EXPORT unsigned int AddSum(unsigned char* data, unsigned int length, unsigned int seed);
// (high << 32) | low.
VEMORA_EXPORT long long Get64bitLen(unsigned int low, unsigned int high);
VEMORA_EXPORT void Get32BitLen(long long value, unsigned int& low, unsigned int& high);
// The running program's directory with a trailing "/"; "" when the
// program's path is unreadable or longer than 259 characters. The two
// functions that hand out a CBCString throw nothing: when memory is short
// their text is "".
VEMORA_EXPORT CBCString GetModulePath();
// Directory part of path, up to and including its last "/", into out; "./"
// when the path has no "/". out holds strlen(path) + 1 bytes and at least 3.
VEMORA_EXPORT void GetDirectoryFromPath(const char* path, char* out);
// The text after the last "/" of path ("" when there is none or the path
// ends in "/"). Only "/" separates paths here: with slash false the result
// is always "".
VEMORA_EXPORT CBCString GetFileNameFromPath(const char* path, bool slash);
