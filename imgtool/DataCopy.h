// Moves item data between files in fixed-size chunks, computing the CRC-32
// on the way. Holes of the source stay holes: they are skipped, and the
// destination (a fresh file) reads zeros there.
#pragma once

#include <cstdint>
#include <string>

class BlockCipher;

struct CopySpan {
    int fd;
    const std::string& path;
    uint64_t offset;
};

enum class CipherStep { None, Encrypt, Decrypt };

// Copies `length` bytes from `from` to `to`. `crc` gets the CRC-32 of the
// bytes as stored in the image: after encryption, before decryption.
bool CopyData(const CopySpan& from, const CopySpan& to, uint64_t length, const BlockCipher* cipher,
    CipherStep step, uint32_t& crc, std::string& why);

// The CRC-32 `crc` continued over `count` zero bytes.
uint32_t CrcOverZeros(uint32_t crc, uint64_t count);
