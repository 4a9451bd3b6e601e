// vemora-imgtool as its users run it: pack, list and extract, the errors it
// gives, and that a failed run never leaves a half image behind.
#include "ToolRunner.h"

#include <gtest/gtest.h>

#include <cstdio>
#include <fcntl.h>
#include <functional>
#include <sys/stat.h>
#include <unistd.h>
#include <zlib.h>

namespace {

uint32_t Crc(const std::string& data)
{
    return static_cast<uint32_t>(
        crc32(0, reinterpret_cast<const Bytef*>(data.data()), static_cast<uInt>(data.size())));
}

std::string Hex32(uint32_t v)
{
    char text[16];
    std::snprintf(text, sizeof text, "0x%08x", v);
    return text;
}

// The listing line of one item, "" when absent.
std::string ListLine(
    const std::string& listing, const std::string& mainType, const std::string& subType)
{
    size_t at = 0;
    while (at < listing.size()) {
        const size_t end = listing.find('\n', at);
        const std::string line = listing.substr(at, end - at);
        char main[32] = {};
        char sub[32] = {};
        if (std::sscanf(line.c_str(), "%31s %31s", main, sub) == 2 && main == mainType
            && sub == subType)
            return line;
        if (end == std::string::npos)
            break;
        at = end + 1;
    }
    return "";
}

uint64_t Field(const std::string& line, const std::string& key)
{
    const size_t at = line.find(" " + key + "=");
    if (at == std::string::npos)
        return ~uint64_t {0};
    return std::strtoull(line.c_str() + at + key.size() + 2, nullptr, 0);
}

void Put(std::string& bytes, size_t at, uint64_t value, int width)
{
    for (int i = 0; i < width; ++i)
        bytes[at + i] = static_cast<char>(value >> (8 * i));
}

// Recomputes the table and header CRC-32s, as a maker of a hostile image
// would, so that only the planted fault is left for the reader to find.
void Reseal(std::string& bytes)
{
    const auto* p = reinterpret_cast<const Bytef*>(bytes.data());
    uint32_t count = 0;
    for (int i = 3; i >= 0; --i)
        count = count << 8 | static_cast<uint8_t>(bytes[16 + i]);
    // A count planted past the file's end leaves the table's CRC as it was.
    if (count <= (bytes.size() - 128) / 128)
        Put(bytes, 44, crc32(0, p + 128, count * 128), 4);
    Put(bytes, 48, 0, 4);
    Put(bytes, 48, crc32(0, p, 128), 4);
}

// True when nothing but the listed names lies in the folder.
void ExpectOnly(const ScratchDir& dir, const std::vector<std::string>& names)
{
    EXPECT_EQ(names, dir.List()) << "a temporary or half-written file was left behind";
}

class ImgTool : public ::testing::Test {
protected:
    void SetUp() override
    {
        tools = "Tools = {}\n";
        payload = Pattern<std::string>(50000, 1);
        boot = Pattern<std::string>(300001, 2);
        secure = Pattern<std::string>(4096, 3);
        WriteFile(dir / "tools.lua", tools);
        WriteFile(dir / "stage2.bin", payload);
        WriteFile(dir / "boot.img", boot);
        WriteFile(dir / "secure.img", secure);
        WriteFile(dir / "image.txt",
            "# sample\n"
            "version \"Board 2.1\"\n"
            "item UPFLYTLS xxxxxxxxxxxxxxxx tools.lua\n"
            "item FES2BOOT secondstage stage2.bin target=0x4A000000\n"
            "item PARTITON boot boot.img target=0x100000 name=\"boot partition\"\n"
            "item PARTITON secure secure.img target=0x2000000 encrypt\n");
    }

    ScratchDir dir;
    std::string tools, payload, boot, secure;
};

TEST_F(ImgTool, PackListExtractRoundTrip)
{
    const std::string image = dir / "fw.img";
    ToolResult r = RunImgTool({"pack", image, dir / "image.txt"});
    ASSERT_EQ(0, r.status) << r.err;

    const std::string bytes = ReadFile(image);
    ASSERT_GE(bytes.size(), 128u);
    EXPECT_EQ("VMRIMAGE", bytes.substr(0, 8));

    r = RunImgTool({"list", image});
    ASSERT_EQ(0, r.status) << r.err;
    EXPECT_NE(std::string::npos, r.out.find("version \"Board 2.1\", 4 items")) << r.out;
    const std::string toolLine = ListLine(r.out, "UPFLYTLS", "xxxxxxxxxxxxxxxx");
    const std::string bootLine = ListLine(r.out, "PARTITON", "boot");
    const std::string secureLine = ListLine(r.out, "PARTITON", "secure");
    EXPECT_EQ(tools.size(), Field(toolLine, "size"));
    EXPECT_EQ(Hex32(Crc(tools)), toolLine.substr(toolLine.find("crc=") + 4, 10));
    EXPECT_EQ(0x100000u, Field(bootLine, "target"));
    EXPECT_EQ(Hex32(Crc(boot)), bootLine.substr(bootLine.find("crc=") + 4, 10));
    EXPECT_NE(std::string::npos, bootLine.find("name=\"boot partition\"")) << bootLine;
    EXPECT_EQ(1u, Field(secureLine, "flags"));
    EXPECT_EQ(0u, Field(bootLine, "offset") % 4096) << "item data is aligned";

    ASSERT_EQ(0, RunImgTool({"extract", image, "PARTITON", "boot", dir / "boot.out"}).status);
    EXPECT_EQ(boot, ReadFile(dir / "boot.out"));
    ASSERT_EQ(0, RunImgTool({"extract", image, "FES2BOOT", "secondstage", dir / "p.out"}).status);
    EXPECT_EQ(payload, ReadFile(dir / "p.out"));

    // Encrypted in the image, plain again with --decrypt.
    ASSERT_EQ(0, RunImgTool({"extract", image, "PARTITON", "secure", dir / "enc.out"}).status);
    const std::string stored = ReadFile(dir / "enc.out");
    EXPECT_EQ(secure.size(), stored.size());
    EXPECT_NE(secure, stored);
    EXPECT_EQ(Hex32(Crc(stored)), secureLine.substr(secureLine.find("crc=") + 4, 10));
    ASSERT_EQ(0,
        RunImgTool({"extract", image, "PARTITON", "secure", dir / "dec.out", "--decrypt"}).status);
    EXPECT_EQ(secure, ReadFile(dir / "dec.out"));
}

TEST_F(ImgTool, ExtractAllThenPackFolderGivesTheSameImage)
{
    // A subtype with the manifest's comment sign, and a name with a line
    // break ("\n" in quotes) before what reads like a statement of its own,
    // survive the round trip: the name stays one, and no item comes of it.
    WriteFile(dir / "image.txt",
        ReadFile(dir / "image.txt") + "item PARTITON \"v#2\" tools.lua target=0x10\n"
            + "item PARTITON two tools.lua \"name=x\\nitem PARTITON more tools.lua\"\n");
    ASSERT_EQ(0, RunImgTool({"pack", dir / "a.img", dir / "image.txt"}).status);
    EXPECT_NE(std::string::npos, ReadFile(dir / "a.img").find("x\nitem PARTITON more"));
    ToolResult r = RunImgTool({"extract", dir / "a.img", "--all", dir / "items"});
    ASSERT_EQ(0, r.status) << r.err;
    EXPECT_EQ(boot, ReadFile(dir / "items/PARTITON.boot"));
    r = RunImgTool({"pack", dir / "b.img", dir / "items"});
    ASSERT_EQ(0, r.status) << r.err;
    EXPECT_EQ(ReadFile(dir / "a.img"), ReadFile(dir / "b.img"));
}

TEST_F(ImgTool, FolderWithoutManifestTakesFilesByName)
{
    ScratchDir folder;
    WriteFile(folder / "UPFLYTLS.xxxxxxxxxxxxxxxx", tools);
    WriteFile(folder / "PARTITON.boot", boot);
    ToolResult r = RunImgTool({"pack", dir / "f.img", folder.path()});
    ASSERT_EQ(0, r.status) << r.err;
    r = RunImgTool({"list", dir / "f.img"});
    EXPECT_LT(r.out.find("PARTITON boot"), r.out.find("UPFLYTLS xxxxxxxxxxxxxxxx")) << r.out;

    WriteFile(folder / "README", "not an item");
    r = RunImgTool({"pack", dir / "g.img", folder.path()});
    EXPECT_EQ(1, r.status);
    EXPECT_NE(std::string::npos, r.err.find("<main type>.<subtype>")) << r.err;
    EXPECT_FALSE(FileExists(dir / "g.img"));
}

TEST_F(ImgTool, BadManifestsAreRefusedWithoutAnImage)
{
    struct Case {
        const char* manifest;
        const char* message;
    } cases[] = {
        {"version 1\nalign 4096\nitems A b tools.lua\n", "m.txt:3: unknown statement"},
        {"item PARTITON boot missing.img\n", "cannot open"},
        {"item PARTITON boot boot.img\nitem PARTITON boot tools.lua\n", "listed twice"},
        {"item PARTITION boot boot.img\n", "1 to 8 characters"},
        {"item PARTITON boot boot.img target=12x\n", "bad number"},
        {"item PARTITON boot boot.img encrypt\n", "multiple of 16"},
        {"align 1000\n", "power of two"},
        {"item PARTITON \"boot\n", "unterminated quote"},
    };
    for (const Case& c : cases) {
        WriteFile(dir / "m.txt", c.manifest);
        const ToolResult r = RunImgTool({"pack", dir / "out.img", dir / "m.txt"});
        EXPECT_EQ(1, r.status) << c.manifest;
        EXPECT_NE(std::string::npos, r.err.find(c.message)) << c.manifest << " gave " << r.err;
        ExpectOnly(
            dir, {"boot.img", "image.txt", "m.txt", "secure.img", "stage2.bin", "tools.lua"});
    }
    EXPECT_EQ(2, RunImgTool({"frobnicate", "x"}).status) << "usage error";
}

TEST_F(ImgTool, NumbersAreDecimalOrHex)
{
    WriteFile(dir / "n.txt",
        "align 0x100\n"
        "item PARTITON boot boot.img target=0100 flags=0X12\n"
        "item PARTITON secure secure.img target=0x0100\n");
    ToolResult r = RunImgTool({"pack", dir / "n.img", dir / "n.txt"});
    ASSERT_EQ(0, r.status) << r.err;
    r = RunImgTool({"list", dir / "n.img"});
    EXPECT_EQ(100u, Field(ListLine(r.out, "PARTITON", "boot"), "target")) << "not octal";
    EXPECT_EQ(0x12u, Field(ListLine(r.out, "PARTITON", "boot"), "flags"));
    EXPECT_EQ(0x100u, Field(ListLine(r.out, "PARTITON", "secure"), "target"));
    EXPECT_EQ(0u, Field(ListLine(r.out, "PARTITON", "secure"), "offset") % 256);
    for (const char* bad : {"target=0x", "target= 1", "target=1e3", "target=0x-1"}) {
        WriteFile(dir / "n.txt", std::string("item PARTITON boot boot.img ") + bad + "\n");
        r = RunImgTool({"pack", dir / "m.img", dir / "n.txt"});
        EXPECT_EQ(1, r.status) << bad;
        EXPECT_NE(std::string::npos, r.err.find("bad number")) << bad << ": " << r.err;
    }
}

TEST_F(ImgTool, FailedWriteKeepsTheOldImage)
{
    ASSERT_EQ(0, RunImgTool({"pack", dir / "fw.img", dir / "image.txt"}).status);
    const std::string before = ReadFile(dir / "fw.img");
    WriteFile(dir / "big.img", Pattern<std::string>(3 << 20, 9));
    WriteFile(dir / "big.txt", "item PARTITON big big.img\n");

    const ToolResult r = RunImgTool({"pack", dir / "fw.img", dir / "big.txt"}, 1 << 20);
    EXPECT_EQ(1, r.status);
    EXPECT_NE(std::string::npos, r.err.find("cannot write")) << r.err;
    EXPECT_EQ(before, ReadFile(dir / "fw.img"));
    ExpectOnly(dir,
        {"big.img", "big.txt", "boot.img", "fw.img", "image.txt", "secure.img", "stage2.bin",
            "tools.lua"});
}

TEST_F(ImgTool, DamagedImagesAreRefusedWithoutOutput)
{
    const std::string image = dir / "fw.img";
    ASSERT_EQ(0, RunImgTool({"pack", image, dir / "image.txt"}).status);
    const std::string good = ReadFile(image);
    const std::string listing = RunImgTool({"list", image}).out;
    const uint64_t bootAt = Field(ListLine(listing, "PARTITON", "boot"), "offset");

    struct Case {
        std::string bytes;
        const char* message;
    };
    std::string itemFlip = good;
    itemFlip[bootAt + 1000] ^= 0x01;
    std::string tableFlip = good;
    tableFlip[128 + 60] ^= 0x01;
    std::string headerFlip = good;
    headerFlip[70] ^= 0x01;
    const Case cases[] = {
        {Pattern<std::string>(4096, 7), "not a Vemora image"},
        {"VMRI", "not a Vemora image"},
        {good.substr(0, good.size() - 1), "truncated image"},
        {itemFlip, "damaged item PARTITON/boot"},
        {tableFlip, "damaged item table"},
        {headerFlip, "damaged header"},
    };
    for (const Case& c : cases) {
        WriteFile(dir / "bad.img", c.bytes);
        const ToolResult r
            = RunImgTool({"extract", dir / "bad.img", "PARTITON", "boot", dir / "boot.out"});
        EXPECT_EQ(1, r.status) << c.message;
        EXPECT_NE(std::string::npos, r.err.find(c.message)) << r.err;
        EXPECT_FALSE(FileExists(dir / "boot.out"));
    }
    ToolResult r = RunImgTool({"extract", image, "PARTITON", "home", dir / "home.out"});
    EXPECT_EQ(1, r.status);
    EXPECT_NE(std::string::npos, r.err.find("no item PARTITON/home")) << r.err;
    // A FIFO has no writer: refused at once, not waited on.
    ASSERT_EQ(0, mkfifo((dir / "pipe.img").c_str(), 0600));
    r = RunImgTool({"list", dir / "pipe.img"});
    EXPECT_EQ(1, r.status);
    EXPECT_NE(std::string::npos, r.err.find("not a regular file")) << r.err;
    unlink((dir / "pipe.img").c_str());
    ExpectOnly(dir,
        {"bad.img", "boot.img", "fw.img", "image.txt", "secure.img", "stage2.bin", "tools.lua"});
}

// Tables that pass their CRC-32 but lie: every entry is checked against the
// real lengths, and item types never become paths outside the folder.
TEST_F(ImgTool, HostileTablesAreRefusedAndNothingLandsOutside)
{
    ASSERT_EQ(0, RunImgTool({"pack", dir / "fw.img", dir / "image.txt"}).status);
    const std::string good = ReadFile(dir / "fw.img");
    const std::string listing = RunImgTool({"list", dir / "fw.img"}).out;
    const uint64_t secureAt = Field(ListLine(listing, "PARTITON", "secure"), "offset");
    const size_t boot = 128 + 2 * 128; // third entry: PARTITON boot
    const size_t sec = 128 + 3 * 128;  // fourth entry: PARTITON secure

    struct Case {
        const char* what;
        std::string bytes;
        std::vector<std::string> args; // after the image path
        const char* message;
    };
    std::vector<Case> cases;
    auto add = [&](const char* what, const std::function<void(std::string&)>& plant,
                   std::vector<std::string> args, const char* message) {
        std::string bytes = good;
        plant(bytes);
        Reseal(bytes);
        cases.push_back({what, bytes, std::move(args), message});
    };
    const std::vector<std::string> all = {"--all", dir / "items"};
    add(
        "main type \".\", subtype \"/escaped\" would name ../escaped",
        [&](std::string& b) {
            b.replace(boot, 24, std::string(".\0\0\0\0\0\0\0/escaped\0\0\0\0\0\0\0\0", 24));
        },
        all, "item types cannot be file names");
    add(
        "a byte after the subtype's padding", [&](std::string& b) { b[boot + 8 + 10] = 'x'; }, all,
        "has a damaged type");
    add(
        "two entries with the same types",
        [&](std::string& b) { b.replace(sec, 24, good.substr(boot, 24)); }, all, "appears twice");
    add(
        "item size near 2^64", [&](std::string& b) { Put(b, boot + 32, ~uint64_t {0} - 100, 8); },
        all, "lies outside the image");
    add(
        "item offset near 2^64", [&](std::string& b) { Put(b, boot + 24, ~uint64_t {0}, 8); }, all,
        "lies outside the image");
    add(
        "item count 2^32 - 1", [&](std::string& b) { Put(b, 16, 0xFFFFFFFFu, 4); }, all,
        "is above 4096");
    add(
        "table offset past the image", [&](std::string& b) { Put(b, 24, uint64_t {1} << 40, 8); },
        all, "item table lies outside the image");
    // Size and CRC-32 agree on 4095 stored bytes; decryption would leave the
    // last 15 of them encrypted.
    add(
        "ragged encrypted item",
        [&](std::string& b) {
            Put(b, sec + 32, 4095, 8);
            Put(b, sec + 48, Crc(good.substr(secureAt, 4095)), 4);
        },
        {"PARTITON", "secure", dir / "secure.out", "--decrypt"},
        "not a whole number of 16-byte blocks");

    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        WriteFile(dir / "bad.img", c.bytes);
        std::vector<std::string> args = {"extract", dir / "bad.img"};
        args.insert(args.end(), c.args.begin(), c.args.end());
        const ToolResult r = RunImgTool(args);
        EXPECT_EQ(1, r.status);
        EXPECT_NE(std::string::npos, r.err.find(c.message)) << r.err;
        EXPECT_FALSE(FileExists(dir / "escaped")) << "a file outside the target folder";
        EXPECT_FALSE(FileExists(dir / "secure.out"));
        EXPECT_EQ(std::vector<std::string> {}, ListFolder(dir / "items"))
            << "an item extracted from a refused image";
    }
}

// A listing shows what an image says, but never hands its control bytes to
// the terminal.
TEST_F(ImgTool, ListingEscapesControlBytes)
{
    ASSERT_EQ(0, RunImgTool({"pack", dir / "fw.img", dir / "image.txt"}).status);
    std::string bytes = ReadFile(dir / "fw.img");
    bytes.replace(64, 8,
        std::string("v\x1b[2J\x07\x7f"
                    "1",
            8));                                                // firmware version
    bytes.replace(128 + 2 * 128, 4, std::string("P\x1b]0", 4)); // main type of the third item
    Reseal(bytes);
    WriteFile(dir / "ctl.img", bytes);

    const ToolResult r = RunImgTool({"list", dir / "ctl.img"});
    ASSERT_EQ(0, r.status) << r.err;
    for (const char c : r.out)
        EXPECT_TRUE(c == '\n' || (static_cast<unsigned char>(c) >= 0x20 && c != 0x7f))
            << "control byte " << int(c) << " in the listing";
    EXPECT_NE(std::string::npos, r.out.find("version \"v\\x1b[2J\\x07\\x7f1")) << r.out;
    EXPECT_NE(std::string::npos, r.out.find("\nP\\x1b]0ITON boot")) << r.out;
}

// Holes of sparse inputs are counted into the CRC-32 without being read.
TEST_F(ImgTool, SparseInputsKeepTheirHolesAndCrc)
{
    const std::string sparse = dir / "sparse.img";
    {
        const int fd = open(sparse.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0644);
        ASSERT_GE(fd, 0);
        ASSERT_EQ(0, ftruncate(fd, 3 << 20));
        ASSERT_EQ(5, pwrite(fd, "MIDDL", 5, 1 << 20));
        close(fd);
    }
    WriteFile(dir / "s.txt", "item PARTITON data sparse.img\n");
    ASSERT_EQ(0, RunImgTool({"pack", dir / "s.img", dir / "s.txt"}).status);
    const std::string line = ListLine(RunImgTool({"list", dir / "s.img"}).out, "PARTITON", "data");
    EXPECT_EQ(Hex32(Crc(ReadFile(sparse))), line.substr(line.find("crc=") + 4, 10));
}

TEST_F(ImgTool, ItemsBeyondFourGiB)
{
    const uint64_t bigSize = (5ull << 30) + 3;
    const std::string big = dir / "big.img";
    {
        const int fd = open(big.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0644);
        ASSERT_GE(fd, 0);
        ASSERT_EQ(0, ftruncate(fd, static_cast<off_t>(bigSize)));
        ASSERT_EQ(4, pwrite(fd, "HEAD", 4, 0));
        ASSERT_EQ(3, pwrite(fd, "END", 3, static_cast<off_t>(bigSize - 3)));
        close(fd);
    }
    WriteFile(dir / "b.txt",
        "item PARTITON big big.img target=0x300000000\n"
        "item UPFLYTLS xxxxxxxxxxxxxxxx tools.lua\n");
    ToolResult r = RunImgTool({"pack", dir / "b.img", dir / "b.txt"});
    ASSERT_EQ(0, r.status) << r.err;
    r = RunImgTool({"list", dir / "b.img"});
    const std::string bigLine = ListLine(r.out, "PARTITON", "big");
    EXPECT_EQ(bigSize, Field(bigLine, "size"));
    EXPECT_EQ(0x300000000u, Field(bigLine, "target"));
    EXPECT_GT(Field(ListLine(r.out, "UPFLYTLS", "xxxxxxxxxxxxxxxx"), "offset"), 1ull << 32);

    struct stat st { };
    ASSERT_EQ(0, stat((dir / "b.img").c_str(), &st));
    EXPECT_LT(static_cast<uint64_t>(st.st_blocks) * 512, 64ull << 20) << "holes stay holes";

    ASSERT_EQ(0,
        RunImgTool({"extract", dir / "b.img", "UPFLYTLS", "xxxxxxxxxxxxxxxx", dir / "t.out"})
            .status);
    EXPECT_EQ(tools, ReadFile(dir / "t.out"));
    r = RunImgTool({"extract", dir / "b.img", "PARTITON", "big", dir / "big.out"});
    ASSERT_EQ(0, r.status) << r.err;
    const int fd = open((dir / "big.out").c_str(), O_RDONLY);
    ASSERT_GE(fd, 0);
    char head[4] = {};
    char tail[3] = {};
    EXPECT_EQ(4, pread(fd, head, 4, 0));
    EXPECT_EQ(3, pread(fd, tail, 3, static_cast<off_t>(bigSize - 3)));
    ASSERT_EQ(0, fstat(fd, &st));
    close(fd);
    EXPECT_EQ(bigSize, static_cast<uint64_t>(st.st_size));
    EXPECT_EQ("HEAD", std::string(head, 4));
    EXPECT_EQ("END", std::string(tail, 3));
}

} // namespace
