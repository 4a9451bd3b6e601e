// Fuzz target: the script functions of "scriptbase.dll" that turn numbers and
// texts from a script into memory operations: buffers, hex text, bit fields,
// integers in memory, checksums, traces, file reads and writes, 64-bit halves.
//
// Input: a buffer size (u16), then operations until the input ends, each an
// operation byte and its arguments. Every input gets a fresh Lua state with
// l_RegAllFun registered; calls go through lua_pcall as a script's would.
// Numbers reach the library in the forms a script may give them (fractions,
// values beyond 32 bits, numeric texts), and what the library touches by its
// contract lies inside the buffer. After each call the harness checks that
// only the bytes the call may write changed, that results are the documented
// ones, and that refused arguments (no buffer, negative counts, a full
// userdata to FreeBuffer) raise a Lua error and change nothing.
#include "FuzzSupport.h"

#include <algorithm>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <iterator>
#include <lua.hpp>
#include <unistd.h>
#include <vector>
#include <zlib.h>

namespace {

using fuzz::Input;

struct Session {
    lua_State* L;
    Input& in;
    unsigned char* buf;
    size_t size;
    std::vector<unsigned char> before;
};

// Pushes v in one of the forms a script may give an integer; each reads as v
// under the library's rule (truncated toward zero, cut to 32 bits).
void PushInt(Session& s, int64_t v)
{
    char text[64];
    switch (s.in.Byte() % 6) {
    case 0:
        lua_pushnumber(s.L, static_cast<lua_Number>(v));
        return;
    case 1:
        lua_pushnumber(s.L, static_cast<lua_Number>(v) + (v < 0 ? -0.75 : 0.75));
        return;
    case 2:
        lua_pushnumber(s.L, static_cast<lua_Number>(v) + 4294967296.0 * (1 + s.in.Byte() % 4));
        return;
    case 3:
        std::snprintf(text, sizeof text, "%lld", static_cast<long long>(v));
        break;
    case 4:
        std::snprintf(text, sizeof text, "  %lld.5\t", static_cast<long long>(v));
        break;
    default:
        std::snprintf(text, sizeof text, v < 0 ? "%lld" : "0x%llX", static_cast<long long>(v));
        break;
    }
    lua_pushstring(s.L, text);
}

// Pushes any value at all where the library takes a number without a
// memory meaning; false when the harness cannot tell what it reads as.
bool PushValue(Session& s, int64_t& v)
{
    switch (s.in.Byte() % 6) {
    case 0:
        v = static_cast<int32_t>(s.in.U32());
        PushInt(s, v);
        return true;
    case 1:
        v = s.in.U32();
        PushInt(s, v);
        return true;
    case 2:
        lua_pushnumber(s.L, s.in.Double());
        return false;
    case 3: {
        const std::string text = s.in.Text(24);
        lua_pushlstring(s.L, text.data(), text.size());
        return false;
    }
    case 4:
        lua_pushnil(s.L);
        return false;
    default:
        lua_newtable(s.L);
        return false;
    }
}

// A handle into the buffer: base + d, d in 0..size.
size_t PushHandle(Session& s)
{
    const size_t d = s.size ? s.in.U16() % (s.size + 1) : 0;
    lua_pushlightuserdata(s.L, s.buf + d);
    return d;
}

// A position p with room for `width` bytes, pushed as an offset from the
// handle at d (so it may be negative). False when the buffer is too small.
bool PushOffset(Session& s, size_t d, size_t width, size_t& p)
{
    if (width > s.size)
        return false;
    p = s.in.U16() % (s.size - width + 1);
    PushInt(s, static_cast<int64_t>(p) - static_cast<int64_t>(d));
    return true;
}

// Calls the function Begin pushed with the arguments pushed since.
int Call(Session& s, int nargs)
{
    return lua_pcall(s.L, nargs, LUA_MULTRET, 0);
}

void Begin(Session& s, const char* name)
{
    s.before.assign(s.buf, s.buf + s.size);
    lua_settop(s.L, 0);
    lua_getfield(s.L, LUA_GLOBALSINDEX, name);
}

// Only bytes [lo, hi) may differ from before the call.
void OnlyChanged(const Session& s, size_t lo, size_t hi)
{
    for (size_t i = 0; i < s.size; ++i)
        FUZZ_CHECK((i >= lo && i < hi) || s.buf[i] == s.before[i]);
}

void Succeeded(Session& s, int status)
{
    if (status != 0)
        std::fprintf(stderr, "fuzz: %s\n", lua_tostring(s.L, -1));
    FUZZ_CHECK(status == 0);
}

// A refused call raises a Lua error and changes nothing.
void Refused(Session& s, int status)
{
    FUZZ_CHECK(status != 0);
    OnlyChanged(s, 0, 0);
}

unsigned char HexPair(const char* text, size_t n, size_t pos)
{
    char pair[3] = {0, 0, 0};
    for (size_t j = 0; j < 2; ++j) {
        const size_t at = pos + j;
        pair[j] = (n & 1) ? (at == 0 ? '0' : text[at - 1]) : text[at];
    }
    return static_cast<unsigned char>(std::strtol(pair, nullptr, 16));
}

bool IsHexOf(const char* text, size_t length, const unsigned char* bytes, size_t count)
{
    static const char digits[] = "0123456789abcdef";
    if (length != 2 * count)
        return false;
    for (size_t i = 0; i < count; ++i) {
        if (text[2 * i] != digits[bytes[i] >> 4] || text[2 * i + 1] != digits[bytes[i] & 15])
            return false;
    }
    return true;
}

uint32_t Mask(int64_t count)
{
    return count <= 0 || count >= 32 ? 0 : (1u << count) - 1;
}

uint32_t Shifted(uint32_t v, int64_t pos, bool left)
{
    return pos < 0 || pos >= 32 ? 0 : left ? v << pos : v >> pos;
}

// StringtoBuffer(h, text) or SetMemValue(h, off, text): byte k of the decoded
// text lands at p + k, and nothing else is written.
void HexIn(Session& s, bool withOffset)
{
    Begin(s, withOffset ? "SetMemValue" : "StringtoBuffer");
    const size_t d = PushHandle(s);
    size_t p = d;
    if (withOffset && !PushOffset(s, d, 0, p))
        return;
    std::string text = s.in.Text(80);
    text.resize(std::min(text.size(), 2 * (s.size - p)));
    lua_pushlstring(s.L, text.data(), text.size());
    Succeeded(s, Call(s, withOffset ? 3 : 2));
    const size_t n = std::strlen(text.c_str());
    const size_t bytes = (n + 1) / 2;
    OnlyChanged(s, p, p + bytes);
    for (size_t k = 0; k < bytes; ++k)
        FUZZ_CHECK(s.buf[p + k] == HexPair(text.c_str(), n, 2 * k));
}

// BufferToString(h, count) or GetMemValue(h, off, count).
void HexOut(Session& s, bool withOffset)
{
    Begin(s, withOffset ? "GetMemValue" : "BufferToString");
    const size_t d = PushHandle(s);
    size_t p = d;
    if (withOffset && !PushOffset(s, d, 0, p))
        return;
    const size_t count = s.in.U16() % (s.size - p + 1);
    PushInt(s, static_cast<int64_t>(count));
    Succeeded(s, Call(s, withOffset ? 3 : 2));
    size_t length = 0;
    const char* text = lua_tolstring(s.L, -1, &length);
    FUZZ_CHECK(text && IsHexOf(text, length, s.buf + p, count));
    OnlyChanged(s, 0, 0);
}

// GetInt8/16/32FrmMem and their Set twins.
void Integer(Session& s, size_t width, bool set)
{
    static const char* const names[2][5]
        = {{"", "GetInt8FrmMem", "GetInt16FrmMem", "", "GetInt32FrmMem"},
            {"", "SetInt8FrmMem", "SetInt16FrmMem", "", "SetInt32FrmMem"}};
    Begin(s, names[set][width]);
    const size_t d = PushHandle(s);
    size_t p = 0;
    if (!PushOffset(s, d, width, p))
        return;
    int64_t v = 0;
    const bool known = set && PushValue(s, v);
    Succeeded(s, Call(s, set ? 3 : 2));
    uint32_t stored = 0;
    std::memcpy(&stored, s.buf + p, width);
    if (set) {
        OnlyChanged(s, p, p + width);
        const uint32_t mask = width == 4 ? 0xFFFFFFFFu : (1u << (8 * width)) - 1;
        FUZZ_CHECK(!known || stored == (static_cast<uint32_t>(static_cast<uint64_t>(v)) & mask));
    } else {
        OnlyChanged(s, 0, 0);
        FUZZ_CHECK(lua_isnumber(s.L, -1) && lua_tonumber(s.L, -1) == stored);
    }
}

// Get/SetByteBitsFrmMem and Get/SetIntBitsFrmMem, positions and counts of
// any size (outside 0..31 they read as empty).
void Bits(Session& s, bool word, bool set)
{
    static const char* const names[2][2]
        = {{"GetByteBitsFrmMem", "SetByteBitsFrmMem"}, {"GetIntBitsFrmMem", "SetIntBitsFrmMem"}};
    Begin(s, names[word][set]);
    const size_t width = word ? 4 : 1;
    if (s.size < width)
        return;
    // The word functions count in words from the handle.
    const size_t d = s.in.U16() % (s.size + 1) / width * width;
    lua_pushlightuserdata(s.L, s.buf + d);
    const size_t p = s.in.U16() % (s.size / width) * width;
    PushInt(s, (static_cast<int64_t>(p) - static_cast<int64_t>(d)) / static_cast<int64_t>(width));
    const int64_t pos = static_cast<int8_t>(s.in.Byte()) % 40;
    const int64_t count = static_cast<int8_t>(s.in.Byte()) % 40;
    PushInt(s, pos);
    PushInt(s, count);
    int64_t v = 0;
    const bool known = set && PushValue(s, v);
    Succeeded(s, Call(s, set ? 5 : 4));
    uint32_t old = 0;
    uint32_t now = 0;
    std::memcpy(&old, s.before.data() + p, width);
    std::memcpy(&now, s.buf + p, width);
    const uint32_t mask = Mask(count);
    if (set) {
        OnlyChanged(s, p, p + width);
        FUZZ_CHECK(lua_toboolean(s.L, -1));
        const uint32_t value = static_cast<uint32_t>(static_cast<uint64_t>(v));
        uint32_t want = (old & ~Shifted(mask, pos, true)) | Shifted(value & mask, pos, true);
        if (!word)
            want &= 0xFF;
        FUZZ_CHECK(!known || now == want);
    } else {
        OnlyChanged(s, 0, 0);
        FUZZ_CHECK(lua_tonumber(s.L, -1) == (Shifted(old, pos, false) & mask));
    }
}

void Fill(Session& s)
{
    Begin(s, "Memset");
    const size_t d = PushHandle(s);
    int64_t v = 0;
    const bool known = PushValue(s, v);
    const size_t count = s.in.U16() % (s.size - d + 1);
    PushInt(s, static_cast<int64_t>(count));
    Succeeded(s, Call(s, 3));
    OnlyChanged(s, d, d + count);
    for (size_t i = d; known && i < d + count; ++i)
        FUZZ_CHECK(s.buf[i] == static_cast<unsigned char>(v));
}

// Memcpy (overlapping areas allowed) and Memcmp.
void TwoAreas(Session& s, bool copy)
{
    Begin(s, copy ? "Memcpy" : "Memcmp");
    const size_t a = PushHandle(s);
    const size_t b = PushHandle(s);
    const size_t count = s.in.U16() % (s.size - std::max(a, b) + 1);
    PushInt(s, static_cast<int64_t>(count));
    Succeeded(s, Call(s, 3));
    if (copy) {
        OnlyChanged(s, a, a + count);
        FUZZ_CHECK(count == 0 || std::memcmp(s.buf + a, s.before.data() + b, count) == 0);
    } else {
        OnlyChanged(s, 0, 0);
        const int want = std::memcmp(s.buf + a, s.buf + b, count);
        const lua_Number got = lua_tonumber(s.L, -1);
        FUZZ_CHECK((want < 0) == (got < 0) && (want > 0) == (got > 0));
    }
}

void Chars(Session& s, bool in)
{
    Begin(s, in ? "CharsToBuffer" : "BufferToChars");
    const size_t d = PushHandle(s);
    if (in) {
        std::string text = s.in.Text(64);
        text.resize(std::min(text.size(), s.size - d));
        lua_pushlstring(s.L, text.data(), text.size());
        Succeeded(s, Call(s, 2));
        const size_t n = std::strlen(text.c_str());
        OnlyChanged(s, d, d + n);
        FUZZ_CHECK(std::memcmp(s.buf + d, text.data(), n) == 0);
        return;
    }
    size_t p = 0;
    if (!PushOffset(s, d, 0, p))
        return;
    const size_t count = s.in.U16() % (s.size - p + 1);
    PushInt(s, static_cast<int64_t>(count));
    Succeeded(s, Call(s, 3));
    size_t length = 0;
    const char* text = lua_tolstring(s.L, -1, &length);
    const auto* at = reinterpret_cast<const char*>(s.buf + p);
    FUZZ_CHECK(text && length == strnlen(at, count) && std::memcmp(text, at, length) == 0);
    OnlyChanged(s, 0, 0);
}

uint32_t AddSumOf(const unsigned char* p, size_t n, uint32_t seed)
{
    uint32_t sum = seed;
    for (size_t i = 0; i < n; i += 4) {
        uint32_t word = 0;
        for (size_t j = 0; j < 4 && i + j < n; ++j)
            word |= uint32_t(p[i + j]) << (8 * j);
        sum += word;
    }
    return sum;
}

// calc_crc32, add_sum and TraceBuffer read `length` bytes and write none.
void Reader(Session& s, int which)
{
    static const char* const names[] = {"calc_crc32", "add_sum", "TraceBuffer"};
    Begin(s, names[which]);
    const size_t d = PushHandle(s);
    const size_t length = s.in.U16() % (s.size - d + 1);
    PushInt(s, static_cast<int64_t>(length));
    int64_t seed = 0;
    const bool known = which != 1 || PushValue(s, seed);
    Succeeded(s, Call(s, which == 1 ? 3 : 2));
    OnlyChanged(s, 0, 0);
    const lua_Number got = lua_tonumber(s.L, -1);
    if (which == 0)
        FUZZ_CHECK(got == crc32(0, s.buf + d, static_cast<uInt>(length)));
    if (which == 1 && known)
        FUZZ_CHECK(got == AddSumOf(s.buf + d, length, static_cast<uint32_t>(seed)));
    if (which == 1)
        FUZZ_CHECK(got >= 0 && got <= 4294967295.0 && got == std::floor(got));
}

// Int64Add, Int64Dec, CompareInt64 on any four values.
void Int64(Session& s)
{
    static const char* const names[] = {"Int64Add", "Int64Dec", "CompareInt64"};
    const int which = s.in.Byte() % 3;
    Begin(s, names[which]);
    int64_t v[4];
    bool known = true;
    for (int64_t& half : v)
        known = PushValue(s, half) && known;
    Succeeded(s, Call(s, 4));
    const auto pair = [&](int i) {
        return uint64_t(static_cast<uint32_t>(v[i + 1])) << 32 | static_cast<uint32_t>(v[i]);
    };
    if (which == 2) {
        FUZZ_CHECK(lua_gettop(s.L) == 1);
        const lua_Number got = lua_tonumber(s.L, 1);
        const int64_t a = static_cast<int64_t>(pair(0));
        const int64_t b = static_cast<int64_t>(pair(2));
        FUZZ_CHECK(got == 0 || got == 1 || got == 2);
        FUZZ_CHECK(!known || got == (a < b ? 0 : a == b ? 1 : 2));
        return;
    }
    FUZZ_CHECK(lua_gettop(s.L) == 2);
    const lua_Number low = lua_tonumber(s.L, 1);
    const lua_Number high = lua_tonumber(s.L, 2);
    for (const lua_Number half : {low, high})
        FUZZ_CHECK(half >= 0 && half <= 4294967295.0 && half == std::floor(half));
    const uint64_t want = which == 0 ? pair(0) + pair(2) : pair(0) - pair(2);
    FUZZ_CHECK(!known || (low == static_cast<uint32_t>(want) && high == (want >> 32)));
}

void Offset(Session& s)
{
    Begin(s, "GetBuffer");
    const size_t d = PushHandle(s);
    size_t p = 0;
    if (!PushOffset(s, d, 0, p))
        return;
    Succeeded(s, Call(s, 2));
    FUZZ_CHECK(lua_touserdata(s.L, -1) == s.buf + p);
}

// Calls that must be refused: no buffer behind the handle, a negative count,
// a full userdata given to FreeBuffer.
void Refusal(Session& s)
{
    static const char* const counted[] = {"Memset", "BufferToString", "TraceBuffer"};
    const uint8_t kind = s.in.Byte() % 3;
    if (kind == 2) {
        Begin(s, "FreeBuffer");
        lua_newuserdata(s.L, 16);
        Refused(s, Call(s, 1));
        return;
    }
    const char* name = counted[s.in.Byte() % 3];
    Begin(s, name);
    int64_t ignored = 0;
    if (kind == 0)
        PushValue(s, ignored); // numbers, texts, nil and tables hold no buffer
    else
        PushHandle(s);
    if (std::strcmp(name, "Memset") == 0)
        lua_pushnumber(s.L, 0);
    PushInt(s, kind == 1 ? -1 - static_cast<int64_t>(s.in.U16()) : 1);
    Refused(s, Call(s, lua_gettop(s.L) - 1));
}

// LFwrite then LFread through one scratch file: what is read back is what
// was written.
void FileRoundTrip(Session& s)
{
    const std::string path = fuzz::ScratchDir() + "/roundtrip";
    unlink(path.c_str());
    lua_settop(s.L, 0);
    lua_getfield(s.L, LUA_GLOBALSINDEX, "LFopen");
    lua_pushstring(s.L, path.c_str());
    lua_pushnumber(s.L, 2);
    Succeeded(s, lua_pcall(s.L, 2, 1, 0));
    const int fd = static_cast<int>(lua_tonumber(s.L, -1));
    FUZZ_CHECK(fd >= 0);

    Begin(s, "LFwrite");
    lua_pushnumber(s.L, fd);
    const size_t from = PushHandle(s);
    const size_t written = s.in.U16() % (s.size - from + 1);
    PushInt(s, static_cast<int64_t>(written));
    Succeeded(s, Call(s, 3));
    OnlyChanged(s, 0, 0);
    const std::vector<unsigned char> data(s.buf + from, s.buf + from + written);
    lseek(fd, 0, SEEK_SET);

    Begin(s, "LFread");
    lua_pushnumber(s.L, fd);
    const size_t to = PushHandle(s);
    const size_t wanted = s.in.U16() % (s.size - to + 1);
    PushInt(s, static_cast<int64_t>(wanted));
    Succeeded(s, Call(s, 3));
    const size_t got = std::min(written, wanted);
    OnlyChanged(s, to, to + got);
    FUZZ_CHECK(got == 0 || std::memcmp(s.buf + to, data.data(), got) == 0);
    // The amount asked for after any progress, nil when nothing was read.
    FUZZ_CHECK(got ? lua_tonumber(s.L, -1) == wanted : lua_isnil(s.L, -1));
    close(fd);
}

// fgetALine over a file of the input's text: lines of at most 1023
// characters, in order, then nil.
void Lines(Session& s)
{
    const std::string path = fuzz::ScratchDir() + "/lines";
    const std::string text = s.in.Bytes(s.in.U16() % 3000);
    fuzz::WriteFile(path, text.data(), text.size());
    lua_settop(s.L, 0);
    lua_getfield(s.L, LUA_GLOBALSINDEX, "fopen");
    lua_pushstring(s.L, path.c_str());
    lua_pushstring(s.L, "rb");
    Succeeded(s, lua_pcall(s.L, 2, 1, 0));
    const int stream = lua_gettop(s.L);
    size_t at = 0;
    for (;;) {
        lua_getfield(s.L, LUA_GLOBALSINDEX, "fgetALine");
        lua_pushvalue(s.L, stream);
        Succeeded(s, lua_pcall(s.L, 1, 1, 0));
        if (lua_isnil(s.L, -1))
            break;
        size_t length = 0;
        const char* line = lua_tolstring(s.L, -1, &length);
        FUZZ_CHECK(line && length <= 1023);
        // A line ends at a NUL of the file as fgets' text does; the rest of
        // that piece is skipped.
        const size_t newline = text.find('\n', at);
        const size_t piece = std::min<size_t>(
            newline == std::string::npos ? text.size() - at : newline - at + 1, 1023);
        FUZZ_CHECK(text.compare(at, length, line, length) == 0);
        at += piece;
        lua_pop(s.L, 1);
    }
    FUZZ_CHECK(at == text.size());
    lua_getfield(s.L, LUA_GLOBALSINDEX, "fclose");
    lua_pushvalue(s.L, stream);
    Succeeded(s, lua_pcall(s.L, 1, 0, 0));
}

// The operations, by the operation byte modulo their number.
using Operation = void (*)(Session&);
const Operation kOperations[] = {
    [](Session& s) { HexIn(s, false); },
    [](Session& s) { HexIn(s, true); },
    [](Session& s) { HexOut(s, false); },
    [](Session& s) { HexOut(s, true); },
    [](Session& s) { Integer(s, 1, s.in.Byte() & 1); },
    [](Session& s) { Integer(s, 2, s.in.Byte() & 1); },
    [](Session& s) { Integer(s, 4, s.in.Byte() & 1); },
    [](Session& s) { Bits(s, false, false); },
    [](Session& s) { Bits(s, false, true); },
    [](Session& s) { Bits(s, true, false); },
    [](Session& s) { Bits(s, true, true); },
    Fill,
    [](Session& s) { TwoAreas(s, true); },
    [](Session& s) { TwoAreas(s, false); },
    [](Session& s) { Chars(s, true); },
    [](Session& s) { Chars(s, false); },
    [](Session& s) { Reader(s, 0); },
    [](Session& s) { Reader(s, 1); },
    [](Session& s) { Reader(s, 2); },
    Int64,
    Offset,
    Refusal,
    FileRoundTrip,
    Lines,
};

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size)
{
    static const auto regAll
        = fuzz::Resolve<lua_CFunction>(fuzz::OpenLibrary(SCRIPTBASE_DLL), "l_RegAllFun");
    Input in(data, size);
    lua_State* L = luaL_newstate();
    FUZZ_CHECK(L);
    regAll(L);
    lua_settop(L, 0);

    const int64_t asked = in.U16() % 1025;
    lua_getfield(L, LUA_GLOBALSINDEX, "MallocBuffer");
    lua_pushnumber(L, static_cast<lua_Number>(asked));
    FUZZ_CHECK(lua_pcall(L, 1, 1, 0) == 0);
    auto* buf = static_cast<unsigned char*>(lua_touserdata(L, -1));
    FUZZ_CHECK(buf);
    const size_t rounded = static_cast<size_t>((asked + 15) / 16 * 16);
    std::memset(buf, 0, rounded);
    Session s {L, in, buf, rounded, {}};
    for (int n = 0; n < 64 && !in.empty(); ++n)
        kOperations[in.Byte() % std::size(kOperations)](s);

    lua_settop(L, 0);
    lua_getfield(L, LUA_GLOBALSINDEX, "FreeBuffer");
    lua_pushlightuserdata(L, buf);
    FUZZ_CHECK(lua_pcall(L, 1, 0, 0) == 0);
    lua_close(L);
    return 0;
}
