// An image opened for reading: header and table checked, items found by type.
#pragma once

#include "FileIo.h"
#include "ImageFormat.h"

#include <vector>

class ImageFile {
public:
    // Checks everything but the item data; `why` says what is wrong.
    bool Open(const std::string& path, std::string& why);

    const imgfmt::Header& header() const { return m_header; }
    const std::vector<imgfmt::Entry>& items() const { return m_items; }
    int fd() const { return m_fd.get(); }
    const std::string& path() const { return m_path; }
    // Null when no item has these (padded) types.
    const imgfmt::Entry* Find(const std::string& mainType, const std::string& subType) const;

private:
    std::string m_path;
    Fd m_fd;
    imgfmt::Header m_header;
    std::vector<imgfmt::Entry> m_items;
};
