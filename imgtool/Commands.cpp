#include "Commands.h"

#include "BlockCipher.h"
#include "DataCopy.h"
#include "ImageFile.h"
#include "Manifest.h"

#include <cerrno>
#include <cinttypes>
#include <cstdio>
#include <memory>
#include <sys/stat.h>
#include <zlib.h>

namespace {

int Fail(const std::string& why)
{
    std::fprintf(stderr, "vemora-imgtool: %s\n", why.c_str());
    return 1;
}

// A cipher for the item when its data must be transformed, else null.
bool MakeCipher(
    bool needed, const std::string& subType, std::unique_ptr<BlockCipher>& cipher, std::string& why)
{
    if (!needed)
        return true;
    cipher = std::make_unique<BlockCipher>();
    return cipher->Setup(kSampleFamilyKey, subType, why);
}

struct Source {
    const ManifestItem* item;
    Fd fd;
    uint64_t size;
};

bool OpenSources(const Manifest& manifest, std::vector<Source>& sources, std::string& why)
{
    if (manifest.items.size() > imgfmt::kMaxItems) {
        why = "more than " + std::to_string(imgfmt::kMaxItems) + " items";
        return false;
    }
    for (size_t i = 0; i < manifest.items.size(); ++i) {
        const ManifestItem& item = manifest.items[i];
        for (size_t j = 0; j < i; ++j) {
            if (manifest.items[j].mainType == item.mainType
                && manifest.items[j].subType == item.subType) {
                why = "item " + imgfmt::TypeLabel(item.mainType, item.subType) + " is listed twice";
                return false;
            }
        }
        Source s {&item, Fd(), 0};
        if (!OpenForReading(item.file, s.fd, why) || !FileSize(s.fd.get(), item.file, s.size, why))
            return false;
        if (item.encrypt && s.size % 16 != 0) {
            why = item.file + ": an encrypted item must be a multiple of 16 bytes long";
            return false;
        }
        sources.push_back(std::move(s));
    }
    return true;
}

} // namespace

int PackImage(const std::string& imagePath, const std::string& source)
{
    std::string why;
    Manifest manifest;
    struct stat st { };
    const bool isDir = stat(source.c_str(), &st) == 0 && S_ISDIR(st.st_mode);
    if (!(isDir ? ReadFolder(source, manifest, why) : ReadManifestFile(source, manifest, why)))
        return Fail(why);
    std::vector<Source> sources;
    if (!OpenSources(manifest, sources, why))
        return Fail(why);

    imgfmt::Header header;
    header.itemCount = static_cast<uint32_t>(sources.size());
    header.alignment = manifest.alignment ? manifest.alignment : imgfmt::kDefaultAlignment;
    header.firmwareVersion = manifest.firmwareVersion;
    const uint64_t tableBytes = static_cast<uint64_t>(header.itemCount) * imgfmt::kEntrySize;
    uint64_t end = header.tableOffset + tableBytes;

    PendingFile out(imagePath);
    if (!out.Create(why))
        return Fail(why);
    std::vector<uint8_t> table(tableBytes);
    for (size_t i = 0; i < sources.size(); ++i) {
        const ManifestItem& item = *sources[i].item;
        imgfmt::Entry e;
        e.mainType = item.mainType;
        e.subType = item.subType;
        e.offset = imgfmt::AlignUp(end, header.alignment);
        e.size = sources[i].size;
        e.target = item.target;
        e.flags = item.flags;
        e.name = item.name;
        const uint64_t limit = UINT64_C(1) << 62;
        if (e.size > limit || e.offset > limit - e.size)
            return Fail("image would exceed 2^62 bytes");
        std::unique_ptr<BlockCipher> cipher;
        if (!MakeCipher(item.encrypt, e.subType, cipher, why))
            return Fail(item.file + ": " + why);
        uint32_t crc = 0;
        if (!CopyData({sources[i].fd.get(), item.file, 0}, {out.fd(), imagePath, e.offset}, e.size,
                cipher.get(), item.encrypt ? CipherStep::Encrypt : CipherStep::None, crc, why))
            return Fail(why);
        e.crc = crc;
        imgfmt::EncodeEntry(e, table.data() + i * imgfmt::kEntrySize);
        end = e.offset + e.size;
    }
    header.imageSize = end;
    header.tableCrc = static_cast<uint32_t>(crc32(0, table.data(), static_cast<uInt>(tableBytes)));
    uint8_t head[imgfmt::kHeaderSize];
    imgfmt::EncodeHeader(header, head);
    if (!WriteAt(out.fd(), imagePath, table.data(), table.size(), header.tableOffset, why)
        || !WriteAt(out.fd(), imagePath, head, sizeof head, 0, why) || !out.Finish(end, why)
        || !out.Commit(why))
        return Fail(why);
    std::printf("%s: %u items, %" PRIu64 " bytes\n", imagePath.c_str(), header.itemCount, end);
    return 0;
}

int ListImage(const std::string& imagePath)
{
    ImageFile image;
    std::string why;
    if (!image.Open(imagePath, why))
        return Fail(why);
    const imgfmt::Header& h = image.header();
    std::printf("image %s: format %u, version \"%s\", %u items, %" PRIu64 " bytes\n",
        imagePath.c_str(), imgfmt::kVersion, imgfmt::Printable(h.firmwareVersion).c_str(),
        h.itemCount, h.imageSize);
    for (const imgfmt::Entry& e : image.items()) {
        std::printf("%-8s %-16s offset=%" PRIu64 " size=%" PRIu64 " target=0x%" PRIx64
                    " crc=0x%08x flags=%u name=%s\n",
            imgfmt::Printable(imgfmt::FieldText(e.mainType)).c_str(),
            imgfmt::Printable(imgfmt::FieldText(e.subType)).c_str(), e.offset, e.size, e.target,
            e.crc, e.flags, imgfmt::Printable(QuoteToken(e.name)).c_str());
    }
    return 0;
}

namespace {

bool ExtractEntry(const ImageFile& image, const imgfmt::Entry& e, const std::string& outPath,
    bool decrypt, std::string& why)
{
    std::unique_ptr<BlockCipher> cipher;
    if (decrypt && !(e.flags & imgfmt::kFlagEncrypted)) {
        why = "item " + imgfmt::TypeLabel(e.mainType, e.subType) + " is not encrypted";
        return false;
    }
    // The cipher works on whole blocks; a ragged tail would come out still encrypted.
    if (decrypt && e.size % 16 != 0) {
        why = image.path() + ": encrypted item " + imgfmt::TypeLabel(e.mainType, e.subType)
            + " is not a whole number of 16-byte blocks";
        return false;
    }
    if (!MakeCipher(decrypt, e.subType, cipher, why))
        return false;
    PendingFile out(outPath);
    if (!out.Create(why))
        return false;
    uint32_t crc = 0;
    if (!CopyData({image.fd(), image.path(), e.offset}, {out.fd(), outPath, 0}, e.size,
            cipher.get(), decrypt ? CipherStep::Decrypt : CipherStep::None, crc, why))
        return false;
    if (crc != e.crc) {
        char text[128];
        std::snprintf(text, sizeof text, "CRC-32 0x%08x, the table says 0x%08x", crc, e.crc);
        why = image.path() + ": damaged item " + imgfmt::TypeLabel(e.mainType, e.subType) + " ("
            + text + ")";
        return false;
    }
    return out.Finish(e.size, why) && out.Commit(why);
}

} // namespace

int ExtractItem(const std::string& imagePath, const std::string& mainType,
    const std::string& subType, const std::string& outPath, bool decrypt)
{
    std::string why;
    std::string mainField;
    std::string subField;
    if (!MakeType(mainType, imgfmt::kMainTypeLen, true, mainField, why)
        || !MakeType(subType, imgfmt::kSubTypeLen, false, subField, why))
        return Fail(why);
    ImageFile image;
    if (!image.Open(imagePath, why))
        return Fail(why);
    const imgfmt::Entry* e = image.Find(mainField, subField);
    if (!e)
        return Fail(imagePath + ": no item " + mainType + "/" + subType);
    if (!ExtractEntry(image, *e, outPath, decrypt, why))
        return Fail(why);
    return 0;
}

int ExtractAll(const std::string& imagePath, const std::string& dir)
{
    std::string why;
    ImageFile image;
    if (!image.Open(imagePath, why))
        return Fail(why);
    // Every name is checked before the first file is written: the types come
    // from the image, and only plain names inside `dir` may come of them.
    std::vector<std::string> files;
    for (const imgfmt::Entry& e : image.items()) {
        const std::string mainText = imgfmt::FieldText(e.mainType);
        const std::string subText = imgfmt::FieldText(e.subType);
        std::string field;
        if (!MakeType(mainText, imgfmt::kMainTypeLen, true, field, why) || field != e.mainType
            || !MakeType(subText, imgfmt::kSubTypeLen, false, field, why) || field != e.subType)
            return Fail(imagePath + ": item types cannot be file names: " + why);
        files.push_back(mainText + "." + subText);
    }
    if (mkdir(dir.c_str(), 0777) != 0 && errno != EEXIST)
        return Fail("cannot create folder " + dir);
    std::string manifest = "# Items of " + imagePath + "\n";
    manifest += "version " + QuoteToken(image.header().firmwareVersion) + "\n";
    manifest += "align " + std::to_string(image.header().alignment) + "\n";
    for (size_t i = 0; i < files.size(); ++i) {
        const imgfmt::Entry& e = image.items()[i];
        const std::string& file = files[i];
        if (!ExtractEntry(image, e, dir + "/" + file, false, why))
            return Fail(why);
        const std::string mainText = imgfmt::FieldText(e.mainType);
        const std::string subText = imgfmt::FieldText(e.subType);
        char options[96];
        std::snprintf(options, sizeof options, " target=0x%" PRIx64 " flags=%u", e.target, e.flags);
        manifest += "item " + QuoteToken(mainText) + " " + QuoteToken(subText) + " "
            + QuoteToken(file) + options + " " + QuoteToken("name=" + e.name) + "\n";
    }
    const std::string manifestPath = dir + "/" + kFolderManifestName;
    PendingFile out(manifestPath);
    if (!out.Create(why)
        || !WriteAt(out.fd(), manifestPath, manifest.data(), manifest.size(), 0, why)
        || !out.Commit(why))
        return Fail(why);
    return 0;
}
