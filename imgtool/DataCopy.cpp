#include "DataCopy.h"

#include "BlockCipher.h"
#include "FileIo.h"

#include <cerrno>
#include <unistd.h>
#include <vector>
#include <zlib.h>

namespace {

constexpr size_t kChunk = 1u << 20;

// Where the data after `pos` starts, or `end` when the rest is a hole.
bool NextData(const CopySpan& from, uint64_t pos, uint64_t end, uint64_t& data, std::string& why)
{
    const off_t found = lseek(from.fd, static_cast<off_t>(pos), SEEK_DATA);
    if (found >= 0) {
        data = static_cast<uint64_t>(found) < end ? static_cast<uint64_t>(found) : end;
        return true;
    }
    if (errno != ENXIO) {
        data = pos; // no hole support: everything is data
        return true;
    }
    // No data after pos: a trailing hole, or a file that ended early.
    uint64_t size = 0;
    if (!FileSize(from.fd, from.path, size, why))
        return false;
    if (size < end) {
        why = "unexpected end of " + from.path + " at byte " + std::to_string(size);
        return false;
    }
    data = end;
    return true;
}

uint64_t NextHole(const CopySpan& from, uint64_t pos, uint64_t end)
{
    const off_t found = lseek(from.fd, static_cast<off_t>(pos), SEEK_HOLE);
    if (found < 0 || static_cast<uint64_t>(found) > end)
        return end;
    return static_cast<uint64_t>(found);
}

} // namespace

uint32_t CrcOverZeros(uint32_t crc, uint64_t count)
{
    // CRC of `count` zero bytes by doubling, then appended to `crc`.
    const unsigned char zero = 0;
    uLong zeros = 0;
    uint64_t zerosLen = 0;
    uLong power = crc32(0, &zero, 1);
    uint64_t powerLen = 1;
    for (uint64_t n = count; n != 0; n >>= 1) {
        if (n & 1) {
            zeros = crc32_combine(zeros, power, static_cast<z_off_t>(powerLen));
            zerosLen += powerLen;
        }
        if (n > 1) {
            power = crc32_combine(power, power, static_cast<z_off_t>(powerLen));
            powerLen *= 2;
        }
    }
    return static_cast<uint32_t>(crc32_combine(crc, zeros, static_cast<z_off_t>(zerosLen)));
}

bool CopyData(const CopySpan& from, const CopySpan& to, uint64_t length, const BlockCipher* cipher,
    CipherStep step, uint32_t& crc, std::string& why)
{
    std::vector<uint8_t> buffer(kChunk);
    const uint64_t end = from.offset + length;
    uint64_t pos = from.offset;
    while (pos < end) {
        uint64_t dataEnd = end;
        // Encryption turns zeros into data, so a hole is only a hole without it.
        if (step == CipherStep::None) {
            uint64_t data = 0;
            if (!NextData(from, pos, end, data, why))
                return false;
            if (data > pos) {
                crc = CrcOverZeros(crc, data - pos);
                pos = data;
                continue;
            }
            dataEnd = NextHole(from, pos, end);
            // A file changing under us can answer "data here" and "hole here"
            // for one position; read a chunk then, so the copy always moves on.
            if (dataEnd <= pos)
                dataEnd = end - pos < kChunk ? end : pos + kChunk;
        }
        while (pos < dataEnd) {
            const size_t n = dataEnd - pos < kChunk ? static_cast<size_t>(dataEnd - pos) : kChunk;
            if (!ReadAt(from.fd, from.path, buffer.data(), n, pos, why))
                return false;
            if (step == CipherStep::Encrypt)
                cipher->Encrypt(buffer.data(), n);
            crc = static_cast<uint32_t>(crc32(crc, buffer.data(), static_cast<uInt>(n)));
            if (step == CipherStep::Decrypt)
                cipher->Decrypt(buffer.data(), n);
            if (!WriteAt(to.fd, to.path, buffer.data(), n, to.offset + (pos - from.offset), why))
                return false;
            pos += n;
        }
    }
    return true;
}
