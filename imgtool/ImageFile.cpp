#include "ImageFile.h"

#include <set>
#include <zlib.h>

namespace {

// A type is its text and then 0 bytes only: a reader that stops at the first
// 0 byte sees the same type.
bool Padded(const std::string& field)
{
    const size_t end = field.find('\0');
    return end == std::string::npos || field.find_first_not_of('\0', end) == std::string::npos;
}

} // namespace

bool ImageFile::Open(const std::string& path, std::string& why)
{
    m_path = path;
    if (!OpenForReading(path, m_fd, why))
        return false;
    uint64_t fileSize = 0;
    if (!FileSize(m_fd.get(), path, fileSize, why))
        return false;
    uint8_t head[imgfmt::kHeaderSize];
    if (fileSize < imgfmt::kHeaderSize) {
        why = path + ": not a Vemora image (shorter than its header)";
        return false;
    }
    if (!ReadAt(m_fd.get(), path, head, sizeof head, 0, why))
        return false;
    if (!imgfmt::DecodeHeader(head, m_header, why)) {
        why = path + ": " + why;
        return false;
    }
    if (fileSize < m_header.imageSize) {
        why = path + ": truncated image (" + std::to_string(fileSize) + " of "
            + std::to_string(m_header.imageSize) + " bytes)";
        return false;
    }
    std::vector<uint8_t> table(static_cast<size_t>(m_header.itemCount) * imgfmt::kEntrySize);
    if (!ReadAt(m_fd.get(), path, table.data(), table.size(), m_header.tableOffset, why))
        return false;
    if (crc32(0, table.data(), static_cast<uInt>(table.size())) != m_header.tableCrc) {
        why = path + ": damaged item table (table CRC-32 mismatch)";
        return false;
    }
    const uint64_t tableEnd = m_header.tableOffset + table.size();
    // Types have fixed widths, so their concatenation names an item.
    std::set<std::string> seen;
    for (uint32_t i = 0; i < m_header.itemCount; ++i) {
        imgfmt::Entry e = imgfmt::DecodeEntry(table.data() + i * imgfmt::kEntrySize);
        const std::string label = " (" + imgfmt::TypeLabel(e.mainType, e.subType) + ")";
        if (e.offset < tableEnd || e.offset > m_header.imageSize
            || e.size > m_header.imageSize - e.offset) {
            why = path + ": item " + std::to_string(i) + label + " lies outside the image";
            return false;
        }
        if (!Padded(e.mainType) || !Padded(e.subType)) {
            why = path + ": item " + std::to_string(i) + label
                + " has a damaged type (bytes after its 0 padding)";
            return false;
        }
        if (!seen.insert(e.mainType + e.subType).second) {
            why = path + ": item " + std::to_string(i) + label + " appears twice";
            return false;
        }
        m_items.push_back(e);
    }
    return true;
}

const imgfmt::Entry* ImageFile::Find(const std::string& mainType, const std::string& subType) const
{
    for (const imgfmt::Entry& e : m_items) {
        if (e.mainType == mainType && e.subType == subType)
            return &e;
    }
    return nullptr;
}
