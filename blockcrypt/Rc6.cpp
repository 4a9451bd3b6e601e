// RC6-32/20/b as published: 32-bit words, 20 rounds, a key of b bytes.
#include "BlockCrypt.h"

#include <cstdint>
#include <cstring>
#include <new>

namespace {

constexpr int kRounds = 20;
constexpr int kRoundKeys = 2 * kRounds + 4;
constexpr uint32_t kP32 = 0xB7E15163;
constexpr uint32_t kQ32 = 0x9E3779B9;

struct KeyContext {
    uint32_t S[kRoundKeys];
};

inline uint32_t Rotl(uint32_t x, uint32_t n)
{
    n &= 31;
    return (x << n) | (x >> ((32 - n) & 31));
}

inline uint32_t Rotr(uint32_t x, uint32_t n)
{
    n &= 31;
    return (x >> n) | (x << ((32 - n) & 31));
}

// Words are little-endian whatever the host.
inline uint32_t LoadWord(const unsigned char* p)
{
    uint32_t w;
    std::memcpy(&w, p, sizeof w);
#if __BYTE_ORDER__ == __ORDER_BIG_ENDIAN__
    w = __builtin_bswap32(w);
#endif
    return w;
}

inline void StoreWord(unsigned char* p, uint32_t w)
{
#if __BYTE_ORDER__ == __ORDER_BIG_ENDIAN__
    w = __builtin_bswap32(w);
#endif
    std::memcpy(p, &w, sizeof w);
}

void ExpandKey(const unsigned char* key, unsigned int len, uint32_t* S)
{
    uint32_t L[RC6_MAX_KEY_BYTES / 4] = {};
    for (unsigned int i = 0; i < len; ++i)
        L[i / 4] |= static_cast<uint32_t>(key[i]) << (8 * (i % 4));
    const int c = static_cast<int>((len + 3) / 4);

    S[0] = kP32;
    for (int i = 1; i < kRoundKeys; ++i)
        S[i] = S[i - 1] + kQ32;

    uint32_t A = 0, B = 0;
    int i = 0, j = 0;
    const int steps = 3 * (c > kRoundKeys ? c : kRoundKeys);
    for (int s = 0; s < steps; ++s) {
        A = S[i] = Rotl(S[i] + A + B, 3);
        B = L[j] = Rotl(L[j] + A + B, A + B);
        i = (i + 1) % kRoundKeys;
        j = (j + 1) % c;
    }
}

// (x(2x+1)) <<< 5, which also serves as a rotation count. The empty asm
// hides where the value comes from: otherwise the optimiser derives the
// count with an extra shift (x >> 27), a micro-op more per use, and RC6 is
// bound by exactly these micro-ops.
inline uint32_t Mix(uint32_t x)
{
    uint32_t r = Rotl(x * (2 * x + 1), 5);
    asm("" : "+r"(r));
    return r;
}

// One encryption round; the caller rotates the roles of the four words.
inline void EncryptRound(uint32_t& a, uint32_t b, uint32_t& c, uint32_t d, const uint32_t* k)
{
    const uint32_t t = Mix(b);
    const uint32_t u = Mix(d);
    a = Rotl(a ^ t, u) + k[0];
    c = Rotl(c ^ u, t) + k[1];
}

inline void DecryptRound(uint32_t& a, uint32_t b, uint32_t& c, uint32_t d, const uint32_t* k)
{
    const uint32_t u = Mix(d);
    const uint32_t t = Mix(b);
    c = Rotr(c - k[1], t) ^ u;
    a = Rotr(a - k[0], u) ^ t;
}

void EncryptBlock(const uint32_t* S, const unsigned char* in, unsigned char* out)
{
    uint32_t A = LoadWord(in), B = LoadWord(in + 4), C = LoadWord(in + 8), D = LoadWord(in + 12);
    B += S[0];
    D += S[1];
    // Four rounds per pass, renaming the words instead of moving them.
#pragma GCC unroll 5
    for (int r = 0; r < kRounds; r += 4) {
        const uint32_t* k = S + 2 + 2 * r;
        EncryptRound(A, B, C, D, k);
        EncryptRound(B, C, D, A, k + 2);
        EncryptRound(C, D, A, B, k + 4);
        EncryptRound(D, A, B, C, k + 6);
    }
    A += S[2 * kRounds + 2];
    C += S[2 * kRounds + 3];
    StoreWord(out, A);
    StoreWord(out + 4, B);
    StoreWord(out + 8, C);
    StoreWord(out + 12, D);
}

void DecryptBlock(const uint32_t* S, const unsigned char* in, unsigned char* out)
{
    uint32_t A = LoadWord(in), B = LoadWord(in + 4), C = LoadWord(in + 8), D = LoadWord(in + 12);
    C -= S[2 * kRounds + 3];
    A -= S[2 * kRounds + 2];
#pragma GCC unroll 5
    for (int r = kRounds - 4; r >= 0; r -= 4) {
        const uint32_t* k = S + 2 + 2 * r;
        DecryptRound(D, A, B, C, k + 6);
        DecryptRound(C, D, A, B, k + 4);
        DecryptRound(B, C, D, A, k + 2);
        DecryptRound(A, B, C, D, k);
    }
    D -= S[1];
    B -= S[0];
    StoreWord(out, A);
    StoreWord(out + 4, B);
    StoreWord(out + 8, C);
    StoreWord(out + 12, D);
}

static_assert(kRounds % 4 == 0, "the round loops take four rounds per pass");

} // namespace

void* Initial(unsigned char* key, unsigned int len)
{
    if (!key || len < 1 || len > RC6_MAX_KEY_BYTES)
        return nullptr;
    auto* ctx = new (std::nothrow) KeyContext;
    if (ctx)
        ExpandKey(key, len, ctx->S);
    return ctx;
}

int Encode(void* ctx, unsigned char* in, unsigned char* out)
{
    if (!ctx || !in || !out)
        return RC6_ENCODE_NULL;
    EncryptBlock(static_cast<const KeyContext*>(ctx)->S, in, out);
    return RC6_OK;
}

int Decode(void* ctx, unsigned char* in, unsigned char* out)
{
    if (!ctx || !in || !out)
        return RC6_DECODE_NULL;
    DecryptBlock(static_cast<const KeyContext*>(ctx)->S, in, out);
    return RC6_OK;
}

int UnInitial(void* ctx)
{
    if (!ctx)
        return RC6_UNINITIAL_NULL;
    auto* key = static_cast<KeyContext*>(ctx);
    // The expanded key is key material: wipe it before the memory is reused.
    explicit_bzero(key->S, sizeof key->S);
    delete key;
    return RC6_OK;
}
