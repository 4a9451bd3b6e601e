#include "Crc32.h"

#include <climits>
#include <cpuid.h>
#include <immintrin.h>
#include <zlib.h>

namespace {

// zlib counts lengths in uInt.
uint32_t ZlibCrc32(const unsigned char* data, size_t length, uint32_t crc)
{
    uLong value = crc;
    while (length > 0) {
        const uInt piece = length > UINT_MAX ? UINT_MAX : static_cast<uInt>(length);
        value = crc32(value, data, piece);
        data += piece;
        length -= piece;
    }
    return static_cast<uint32_t>(value);
}

#define VEMORA_FOLD_TARGET __attribute__((target("pclmul,sse4.1")))

VEMORA_FOLD_TARGET __m128i Load(const unsigned char* p)
{
    return _mm_loadu_si128(reinterpret_cast<const __m128i*>(p));
}

// a times k folded onto b: a's low half times k's low, its high half times
// k's high.
VEMORA_FOLD_TARGET __m128i Fold(__m128i a, __m128i k, __m128i b)
{
    return _mm_xor_si128(
        _mm_xor_si128(_mm_clmulepi64_si128(a, k, 0x00), _mm_clmulepi64_si128(a, k, 0x11)), b);
}

// Folding by carry-less multiplication (Gopal et al., "Fast CRC Computation
// for Generic Polynomials Using PCLMULQDQ Instruction", Intel 2009), in the
// bit-reflected domain. The constants are powers of x modulo the polynomial:
// k1, k2 fold 512 bits ahead, k3, k4 128 bits, k5 64 to 32 bits; then
// Barrett reduction with the polynomial P and mu = floor(x^64 / P).
// `length` is a multiple of 16, at least 64; `crc` is the register (not
// inverted), and so is the result.
VEMORA_FOLD_TARGET uint32_t FoldCrc32(const unsigned char* data, size_t length, uint32_t crc)
{
    const __m128i k1k2 = _mm_set_epi64x(0x01c6e41596, 0x0154442bd4);
    const __m128i k3k4 = _mm_set_epi64x(0x00ccaa009e, 0x01751997d0);
    const __m128i k5 = _mm_set_epi64x(0, 0x0163cd6124);
    const __m128i poly = _mm_set_epi64x(0x01f7011641, 0x01db710641);
    const __m128i low32 = _mm_setr_epi32(~0, 0, ~0, 0);

    __m128i x1 = _mm_xor_si128(Load(data), _mm_cvtsi32_si128(static_cast<int>(crc)));
    __m128i x2 = Load(data + 16);
    __m128i x3 = Load(data + 32);
    __m128i x4 = Load(data + 48);
    data += 64;
    length -= 64;
    for (; length >= 64; data += 64, length -= 64) {
        x1 = Fold(x1, k1k2, Load(data));
        x2 = Fold(x2, k1k2, Load(data + 16));
        x3 = Fold(x3, k1k2, Load(data + 32));
        x4 = Fold(x4, k1k2, Load(data + 48));
    }
    x1 = Fold(x1, k3k4, x2);
    x1 = Fold(x1, k3k4, x3);
    x1 = Fold(x1, k3k4, x4);
    for (; length >= 16; data += 16, length -= 16)
        x1 = Fold(x1, k3k4, Load(data));

    // 128 bits to 64, then to 32.
    x2 = _mm_clmulepi64_si128(x1, k3k4, 0x10);
    x1 = _mm_xor_si128(_mm_srli_si128(x1, 8), x2);
    x2 = _mm_srli_si128(x1, 4);
    x1 = _mm_and_si128(x1, low32);
    x1 = _mm_xor_si128(_mm_clmulepi64_si128(x1, k5, 0x00), x2);
    // Barrett reduction.
    x2 = _mm_and_si128(x1, low32);
    x2 = _mm_clmulepi64_si128(x2, poly, 0x10);
    x2 = _mm_and_si128(x2, low32);
    x2 = _mm_clmulepi64_si128(x2, poly, 0x00);
    x1 = _mm_xor_si128(x1, x2);
    return static_cast<uint32_t>(_mm_extract_epi32(x1, 1));
}

bool CanFold()
{
    unsigned eax = 0, ebx = 0, ecx = 0, edx = 0;
    return __get_cpuid(1, &eax, &ebx, &ecx, &edx) && (ecx & bit_PCLMUL) && (ecx & bit_SSE4_1);
}

} // namespace

uint32_t Crc32(const void* data, size_t length, uint32_t crc)
{
    static const bool canFold = CanFold();
    auto* bytes = static_cast<const unsigned char*>(data);
    if (canFold && length >= 64) {
        const size_t whole = length & ~size_t {15};
        crc = ~FoldCrc32(bytes, whole, ~crc);
        bytes += whole;
        length -= whole;
    }
    return length ? ZlibCrc32(bytes, length, crc) : crc;
}
