#include "ImageFormat.h"

#include <cstdio>
#include <cstring>
#include <zlib.h>

namespace imgfmt {
namespace {

const char kMagic[8] = {'V', 'M', 'R', 'I', 'M', 'A', 'G', 'E'};

void Put32(uint8_t* p, uint32_t v)
{
    for (int i = 0; i < 4; ++i)
        p[i] = static_cast<uint8_t>(v >> (8 * i));
}

void Put64(uint8_t* p, uint64_t v)
{
    for (int i = 0; i < 8; ++i)
        p[i] = static_cast<uint8_t>(v >> (8 * i));
}

uint32_t Get32(const uint8_t* p)
{
    uint32_t v = 0;
    for (int i = 3; i >= 0; --i)
        v = (v << 8) | p[i];
    return v;
}

uint64_t Get64(const uint8_t* p)
{
    return (static_cast<uint64_t>(Get32(p + 4)) << 32) | Get32(p);
}

void PutField(uint8_t* p, const std::string& text, size_t width)
{
    std::memset(p, 0, width);
    std::memcpy(p, text.data(), text.size() < width ? text.size() : width);
}

uint32_t HeaderCrc(const uint8_t* header)
{
    uint8_t copy[kHeaderSize];
    std::memcpy(copy, header, kHeaderSize);
    Put32(copy + 48, 0);
    return static_cast<uint32_t>(crc32(0, copy, kHeaderSize));
}

} // namespace

bool PadField(const std::string& text, size_t width, std::string& out)
{
    if (text.size() > width)
        return false;
    out = text;
    out.resize(width, '\0');
    return true;
}

std::string FieldText(const std::string& field)
{
    const size_t end = field.find_last_not_of('\0');
    return end == std::string::npos ? std::string() : field.substr(0, end + 1);
}

std::string Printable(const std::string& text)
{
    std::string out;
    for (const char c : text) {
        const auto byte = static_cast<unsigned char>(c);
        if (byte < 0x20 || byte == 0x7f) {
            char escaped[5];
            std::snprintf(escaped, sizeof escaped, "\\x%02x", byte);
            out += escaped;
        } else {
            out += c;
        }
    }
    return out;
}

std::string TypeLabel(const std::string& mainType, const std::string& subType)
{
    return Printable(mainType.substr(0, mainType.find('\0'))) + "/"
        + Printable(subType.substr(0, subType.find('\0')));
}

void EncodeHeader(const Header& header, uint8_t out[kHeaderSize])
{
    std::memset(out, 0, kHeaderSize);
    std::memcpy(out, kMagic, sizeof kMagic);
    Put32(out + 8, kVersion);
    Put32(out + 12, kHeaderSize);
    Put32(out + 16, header.itemCount);
    Put32(out + 20, kEntrySize);
    Put64(out + 24, header.tableOffset);
    Put64(out + 32, header.imageSize);
    Put32(out + 40, header.alignment);
    Put32(out + 44, header.tableCrc);
    PutField(out + 64, header.firmwareVersion, kVersionLen);
    Put32(out + 48, HeaderCrc(out));
}

bool DecodeHeader(const uint8_t in[kHeaderSize], Header& header, std::string& why)
{
    if (std::memcmp(in, kMagic, sizeof kMagic) != 0) {
        why = "not a Vemora image (no \"VMRIMAGE\" magic)";
        return false;
    }
    if (Get32(in + 8) != kVersion) {
        why = "image format version " + std::to_string(Get32(in + 8)) + " is not supported";
        return false;
    }
    if (Get32(in + 12) != kHeaderSize || Get32(in + 20) != kEntrySize) {
        why = "foreign header or entry size";
        return false;
    }
    if (Get32(in + 48) != HeaderCrc(in)) {
        why = "damaged header (header CRC-32 mismatch)";
        return false;
    }
    header.itemCount = Get32(in + 16);
    header.tableOffset = Get64(in + 24);
    header.imageSize = Get64(in + 32);
    header.alignment = Get32(in + 40);
    header.tableCrc = Get32(in + 44);
    header.firmwareVersion
        = FieldText(std::string(reinterpret_cast<const char*>(in + 64), kVersionLen));
    const uint32_t a = header.alignment;
    if (a < kMinAlignment || a > kMaxAlignment || (a & (a - 1)) != 0) {
        why = "bad item alignment " + std::to_string(a);
        return false;
    }
    if (header.itemCount > kMaxItems) {
        why = "item count " + std::to_string(header.itemCount) + " is above "
            + std::to_string(kMaxItems);
        return false;
    }
    if (header.tableOffset < kHeaderSize || header.tableOffset > header.imageSize
        || header.imageSize - header.tableOffset
            < static_cast<uint64_t>(header.itemCount) * kEntrySize) {
        why = "item table lies outside the image";
        return false;
    }
    return true;
}

void EncodeEntry(const Entry& entry, uint8_t out[kEntrySize])
{
    std::memset(out, 0, kEntrySize);
    PutField(out, entry.mainType, kMainTypeLen);
    PutField(out + 8, entry.subType, kSubTypeLen);
    Put64(out + 24, entry.offset);
    Put64(out + 32, entry.size);
    Put64(out + 40, entry.target);
    Put32(out + 48, entry.crc);
    Put32(out + 52, entry.flags);
    PutField(out + 56, entry.name, kNameLen);
}

Entry DecodeEntry(const uint8_t in[kEntrySize])
{
    Entry entry;
    entry.mainType.assign(reinterpret_cast<const char*>(in), kMainTypeLen);
    entry.subType.assign(reinterpret_cast<const char*>(in + 8), kSubTypeLen);
    entry.offset = Get64(in + 24);
    entry.size = Get64(in + 32);
    entry.target = Get64(in + 40);
    entry.crc = Get32(in + 48);
    entry.flags = Get32(in + 52);
    entry.name = FieldText(std::string(reinterpret_cast<const char*>(in + 56), kNameLen));
    return entry;
}

uint64_t AlignUp(uint64_t value, uint32_t alignment)
{
    return (value + alignment - 1) & ~static_cast<uint64_t>(alignment - 1);
}

} // namespace imgfmt
