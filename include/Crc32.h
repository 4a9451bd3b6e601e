// CRC-32 of IEEE 802.3, the one zlib's crc32 computes (reflected polynomial
// 0xEDB88320, register preset and result inverted), with the same results:
// Crc32(b, n, Crc32(a, m)) is the CRC-32 of a followed by b. On processors
// with carry-less multiplication (PCLMULQDQ) the bulk of the data is folded
// 64 bytes at a time, several times faster than zlib's tables; elsewhere, and
// for short tails, zlib does the work.
#pragma once

#include <cstddef>
#include <cstdint>

uint32_t Crc32(const void* data, size_t length, uint32_t crc = 0);
