// What goes into an image: read from a manifest file or from a folder
// (docs/image-format.md, "vemora-imgtool").
#pragma once

#include <cstdint>
#include <string>
#include <vector>

struct ManifestItem {
    std::string mainType; // padded to 8 bytes
    std::string subType;  // padded to 16 bytes
    std::string file;     // path of the data
    std::string name;     // informative name stored in the entry
    uint64_t target = 0;
    uint32_t flags = 0;
    bool encrypt = false; // encrypt while packing (sets flag bit 0)
};

struct Manifest {
    std::string firmwareVersion;
    uint32_t alignment = 0; // 0: the default
    std::vector<ManifestItem> items;
};

// The file a folder may hold to describe itself; written by "extract --all".
extern const char kFolderManifestName[];

// On failure `why` names the file and line.
bool ReadManifestFile(const std::string& path, Manifest& manifest, std::string& why);
// A folder with kFolderManifestName is read through it; otherwise every
// regular file named "<main type>.<subtype>" becomes an item, in name order.
bool ReadFolder(const std::string& dir, Manifest& manifest, std::string& why);

// Checks a type's characters and pads it; false with a reason otherwise.
bool MakeType(
    const std::string& text, size_t width, bool isMain, std::string& out, std::string& why);
// A manifest token that reads back as `text`, whatever bytes it holds:
// quoted when it holds blanks, quotes, '#' or line ends.
std::string QuoteToken(const std::string& text);
