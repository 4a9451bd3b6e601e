// The on-disk layout of a Vemora firmware image (docs/image-format.md):
// header, item table, aligned item data, all little-endian.
#pragma once

#include <cstdint>
#include <string>

namespace imgfmt {

constexpr uint32_t kVersion = 1;
constexpr uint32_t kHeaderSize = 128;
constexpr uint32_t kEntrySize = 128;
constexpr uint32_t kMaxItems = 4096;
constexpr uint32_t kDefaultAlignment = 4096;
constexpr uint32_t kMinAlignment = 16;
constexpr uint32_t kMaxAlignment = 1u << 20;
constexpr size_t kMainTypeLen = 8;
constexpr size_t kSubTypeLen = 16;
constexpr size_t kVersionLen = 32;
constexpr size_t kNameLen = 56;
constexpr uint32_t kFlagEncrypted = 1;

struct Header {
    uint32_t itemCount = 0;
    uint64_t tableOffset = kHeaderSize;
    uint64_t imageSize = 0;
    uint32_t alignment = kDefaultAlignment;
    uint32_t tableCrc = 0;
    std::string firmwareVersion;
};

// Types are kept padded to their full width with 0 bytes, as stored.
struct Entry {
    std::string mainType;
    std::string subType;
    uint64_t offset = 0;
    uint64_t size = 0;
    uint64_t target = 0;
    uint32_t crc = 0;
    uint32_t flags = 0;
    std::string name;
};

// Pads `text` with 0 bytes to `width`; false when it is longer.
bool PadField(const std::string& text, size_t width, std::string& out);
// The padded field without its trailing 0 bytes, for display and file names.
std::string FieldText(const std::string& field);
// Texts from an image as they are shown: control bytes escaped ("\x1b"), so
// that a hostile image cannot drive the terminal.
std::string Printable(const std::string& text);
// "main/sub" for messages: each type up to its first 0 byte, printable.
std::string TypeLabel(const std::string& mainType, const std::string& subType);

// Writes the header, including its own CRC-32.
void EncodeHeader(const Header& header, uint8_t out[kHeaderSize]);
// Checks magic, sizes, alignment and header CRC; on failure the text says why.
bool DecodeHeader(const uint8_t in[kHeaderSize], Header& header, std::string& why);

void EncodeEntry(const Entry& entry, uint8_t out[kEntrySize]);
Entry DecodeEntry(const uint8_t in[kEntrySize]);

uint64_t AlignUp(uint64_t value, uint32_t alignment);

} // namespace imgfmt
