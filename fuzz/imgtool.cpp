// Fuzz target: the readers of vemora-imgtool (imgtool/) on mutated images:
// "list", "extract" of the tool script item, "extract --decrypt" of the
// image's first item, and "extract --all".
//
// Input: see ImageInput.h. Checked besides the sanitizers: every command
// ends with 0 or 1; an extraction that failed leaves no file under the final
// name, and no extraction leaves a temporary file behind; the folder that
// "extract --all" writes packs again ("pack") into an image with the same
// version, alignment and items (types, sizes, CRCs, targets, flags, names).
#include "FuzzSupport.h"
#include "ImageInput.h"

#include "Commands.h"
#include "ImageFile.h"

#include <string>

namespace {

// No temporary file (".<name>.XXXXXX") is left in dir.
void NoTemporaries(const std::string& dir)
{
    for (const std::string& name : fuzz::ListDir(dir))
        FUZZ_CHECK(name[0] != '.');
}

// Extracts one item; a failure leaves nothing.
void Extract(const std::string& image, const std::string& mainType, const std::string& subType,
    bool decrypt, const std::string& dir)
{
    const std::string out = dir + "/item";
    const int ret = ExtractItem(image, mainType, subType, out, decrypt);
    FUZZ_CHECK(ret == 0 || ret == 1);
    FUZZ_CHECK(fuzz::FileExists(out) == (ret == 0));
    NoTemporaries(dir);
    fuzz::ClearDir(dir);
}

void SameItems(const ImageFile& a, const ImageFile& b)
{
    FUZZ_CHECK(a.header().firmwareVersion == b.header().firmwareVersion);
    FUZZ_CHECK(a.header().alignment == b.header().alignment);
    FUZZ_CHECK(a.items().size() == b.items().size());
    for (size_t i = 0; i < a.items().size(); ++i) {
        const imgfmt::Entry& x = a.items()[i];
        const imgfmt::Entry& y = b.items()[i];
        FUZZ_CHECK(x.mainType == y.mainType && x.subType == y.subType && x.size == y.size);
        FUZZ_CHECK(x.crc == y.crc && x.target == y.target && x.flags == y.flags);
        FUZZ_CHECK(x.name == y.name);
    }
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size)
{
    // Kept loaded: the tool loads and unloads it for each encrypted item, and
    // the fuzzer reads the coverage of every library it has seen.
    static void* const cipher = fuzz::OpenLibrary(BLOCKCRYPT_DLL);
    (void)cipher;
    static const std::string image = fuzz::ScratchDir() + "/image.img";
    static const std::string one = fuzz::MakeDir(fuzz::ScratchDir() + "/one");
    static const std::string out = fuzz::ScratchDir() + "/out";
    const std::string bytes = fuzz::ImageFromInput(data, size);
    fuzz::WriteFile(image, bytes.data(), bytes.size());
    fuzz::ClearDir(out);

    const int listed = ListImage(image);
    FUZZ_CHECK(listed == 0 || listed == 1);
    Extract(image, "UPFLYTLS", "xxxxxxxxxxxxxxxx", false, one);

    // The first item, as its types read without their padding.
    ImageFile file;
    std::string why;
    FUZZ_CHECK(file.Open(image, why) == (listed == 0));
    if (listed == 0 && !file.items().empty()) {
        const imgfmt::Entry& first = file.items().front();
        Extract(
            image, imgfmt::FieldText(first.mainType), imgfmt::FieldText(first.subType), true, one);
    }

    const int all = ExtractAll(image, out);
    FUZZ_CHECK(all == 0 || all == 1);
    NoTemporaries(out);
    if (all == 0) {
        static const std::string again = fuzz::ScratchDir() + "/again.img";
        FUZZ_CHECK(PackImage(again, out) == 0);
        ImageFile packed;
        FUZZ_CHECK(packed.Open(again, why));
        SameItems(file, packed);
    }
    return 0;
}
