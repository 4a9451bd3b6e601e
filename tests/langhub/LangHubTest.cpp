// The language plug-in "langhub.dll" through its interface, as the window
// uses it: the shipped "Vemora.lan", English where a text is missing, and
// broken files refused whole.
#include "CaptureOutput.h"
#include "LanguageInterface.h"

#include <cstdio>
#include <dlfcn.h>
#include <filesystem>
#include <fstream>
#include <gtest/gtest.h>
#include <map>
#include <set>
#include <sstream>
#include <string>
#include <sys/stat.h>
#include <unistd.h>

namespace fs = std::filesystem;

namespace {

const char* const kWindowKeys[] = {"Info004", "Info005", "Info023", "Info024", "Info040", "Info041",
    "Info042", "Info043", "Info044", "Info045", "Info046", "Info047", "Info048", "Info049",
    "Info050", "Info051", "Info060", "Info061", "Info062", "Info063", "Info064", "Info065"};

// English, Simplified and Traditional Chinese, Japanese, French, Spanish,
// German: the indices the window chooses for them.
const int kShippedLanguages[] = {0, 1, 2, 8, 11, 12, 13};

const char* const kGood = "VEMORA-LAN 1\n"
                          "[0 English]\n"
                          "Info040 = Exit\n"
                          "Info041 = Image\n"
                          "[13 Deutsch]\n"
                          "Info040 = Beenden\n"
                          "END\n";

tag_LANG_IF* Interface()
{
    static tag_LANG_IF* lang = [] {
        void* library = dlopen(LANGHUB_PATH, RTLD_NOW);
        auto get = library
            ? reinterpret_cast<tag_LANG_IF* (*)(void*)>(dlsym(library, "GetInterface"))
            : nullptr;
        return get ? get(nullptr) : nullptr;
    }();
    return lang;
}

class LangHub : public ::testing::Test {
protected:
    void SetUp() override
    {
        ASSERT_NE(Interface(), nullptr) << dlerror();
        char pattern[] = "/tmp/vemora-lan-XXXXXX";
        ASSERT_NE(mkdtemp(pattern), nullptr);
        m_dir = pattern;
        Lang().SetLanguage(0);
    }
    void TearDown() override { fs::remove_all(m_dir); }

    tag_LANG_IF& Lang() { return *Interface(); }

    std::string Write(const std::string& content, const char* name = "Vemora.lan")
    {
        const fs::path path = m_dir / name;
        std::ofstream(path, std::ios::binary) << content;
        return path.string();
    }

    // LoadLanFile with what it printed on standard error.
    bool Load(const std::string& path, std::string& err)
    {
        CaptureOutput capture(stderr);
        const bool loaded = Lang().LoadLanFile(path.c_str());
        err = capture.Text();
        return loaded;
    }

    fs::path m_dir;
};

TEST_F(LangHub, SlotTwoIsUnused)
{
    EXPECT_EQ(Lang().reserved2, nullptr);
}

TEST_F(LangHub, ShippedFileHasEveryTextInEveryLanguage)
{
    std::string err;
    ASSERT_TRUE(Load(SHIPPED_LAN, err)) << err;
    EXPECT_EQ(err, "");

    // Each shipped language has its own text for every key the window uses.
    std::ifstream in(SHIPPED_LAN);
    std::map<int, std::set<std::string>> keys;
    int language = -1;
    for (std::string line; std::getline(in, line);) {
        if (line.rfind('[', 0) == 0)
            language = std::stoi(line.substr(1));
        else if (line.rfind("Info", 0) == 0)
            keys[language].insert(line.substr(0, line.find(' ')));
    }
    for (const int index : kShippedLanguages) {
        Lang().SetLanguage(index);
        for (const char* key : kWindowKeys) {
            EXPECT_TRUE(keys[index].count(key)) << "language " << index << " lacks " << key;
            EXPECT_NE(Lang().GetString(key), "") << "language " << index << ", " << key;
        }
    }
    Lang().SetLanguage(13);
    EXPECT_EQ(Lang().GetString("Info040"), "Beenden");
    Lang().SetLanguage(1);
    EXPECT_EQ(Lang().GetString("Info040"), "退出");
}

TEST_F(LangHub, EnglishStandsInForMissingTexts)
{
    std::string err;
    ASSERT_TRUE(Load(Write(kGood), err)) << err;
    Lang().SetLanguage(13);
    EXPECT_EQ(Lang().GetString("Info040"), "Beenden");
    EXPECT_EQ(Lang().GetString("Info041"), "Image"); // missing in German
    Lang().SetLanguage(5);                           // no such language
    EXPECT_EQ(Lang().GetString("Info040"), "Exit");
    EXPECT_EQ(Lang().GetString("Info999"), "");
}

TEST_F(LangHub, TextSyntax)
{
    std::string err;
    ASSERT_TRUE(Load(Write("\xEF\xBB\xBF# a comment\r\n"
                           "\r\n"
                           "VEMORA-LAN 1\r\n"
                           "[0   English  ]\r\n"
                           "  Info050\t=   two\\nlines \\\\ and = signs  \r\n"
                           "Info051 =\r\n"
                           "END"),
        err))
        << err;
    EXPECT_EQ(Lang().GetString("Info050"), "two\nlines \\ and = signs");
    EXPECT_EQ(Lang().GetString("Info051"), "");
}

struct Broken {
    const char* name;
    std::string content;
    const char* reason;
};

class BrokenFile : public LangHub, public ::testing::WithParamInterface<Broken> { };

TEST_P(BrokenFile, IsRefusedWholeAndTheTextsStay)
{
    std::string err;
    ASSERT_TRUE(Load(Write(kGood), err)) << err;
    const std::string path = Write(GetParam().content, "broken.lan");
    EXPECT_FALSE(Load(path, err));
    EXPECT_NE(
        err.find("langhub: " + path + " refused, the texts stay as they were: "), std::string::npos)
        << err;
    EXPECT_NE(err.find(GetParam().reason), std::string::npos) << err;
    EXPECT_EQ(Lang().GetString("Info040"), "Exit");
    EXPECT_EQ(Lang().GetString("Info041"), "Image");
}

const std::string kHead = "VEMORA-LAN 1\n[0 English]\n";

INSTANTIATE_TEST_SUITE_P(LanguageFile, BrokenFile,
    ::testing::Values(Broken {"CutShort", kHead + "Info040 = Quit\n", "its END line is missing"},
        Broken {"CutInsideACharacter", kHead + "Info040 = \xE9\x80",
            "line 3: not UTF-8 (at byte offset 35)"},
        Broken {"Overlong", kHead + "Info040 = \xC0\x80\nEND\n", "not UTF-8"},
        Broken {"Surrogate", kHead + "Info040 = \xED\xA0\x80\nEND\n", "not UTF-8"},
        Broken {"StrayContinuation", kHead + "Info040 = \x80\nEND\n", "not UTF-8"},
        Broken {"BeyondUnicode", kHead + "Info040 = \xF5\x80\x80\x80\nEND\n", "not UTF-8"},
        Broken {"NulByte", kHead + std::string("Info040 = a\0b\nEND\n", 19),
            "line 3: control character 0"},
        Broken {"DuplicateKey", kHead + "Info040 = A\nInfo040 = B\nEND\n",
            "line 4: key Info040 appears twice in language 0 (first on line 3)"},
        Broken {"DuplicateLanguage", kHead + "[1 中文]\n[1 中文]\nEND\n",
            "line 4: language 1 appears twice"},
        Broken {"NoLanguageHeader", "VEMORA-LAN 1\nInfo040 = Quit\n[0 English]\nEND\n",
            "line 2: key Info040 comes before the first language header"},
        Broken {"NoSignature", "[0 English]\nInfo040 = Quit\nEND\n",
            "line 1: the file does not begin with"},
        Broken {
            "OtherVersion", "VEMORA-LAN 2\n[0 English]\nEND\n", "this is version 2 of the format"},
        Broken {"NoEnglish", "VEMORA-LAN 1\n[13 Deutsch]\nInfo040 = Beenden\nEND\n",
            "no English texts"},
        Broken {"TextAfterEnd", kHead + "END\nInfo040 = Quit\n", "line 4: text after the END line"},
        Broken {"UnknownEscape", kHead + "Info040 = C:\\tmp\nEND\n", "line 3: unknown escape"},
        Broken {"HeaderWithoutName", kHead + "[3]\nEND\n", "language 3 has no name"},
        Broken {"HeaderIndexTooLarge", kHead + "[300 X]\nEND\n", "0 to 255"},
        Broken {"HeaderUnclosed", kHead + "[3 X\nEND\n", "ends with ']'"},
        Broken {"NotAnEntry", kHead + "Info040 Quit\nEND\n", "line 3: expected \"key = text\""},
        Broken {"KeyTooLong", kHead + std::string(40, 'K') + " = x\nEND\n", "key longer than 32"},
        Broken {"Empty", "", "the file is empty"},
        Broken {"TooLarge", kHead + "Info040 = " + std::string(1024 * 1024, 'x') + "\nEND\n",
            "larger than 1048576 bytes"}),
    [](const ::testing::TestParamInfo<Broken>& info) { return std::string(info.param.name); });

TEST_F(LangHub, UnreadablePathsAreRefused)
{
    std::string err;
    ASSERT_TRUE(Load(Write(kGood), err)) << err;
    EXPECT_FALSE(Load((m_dir / "missing.lan").string(), err));
    EXPECT_NE(err.find("No such file or directory"), std::string::npos) << err;
    EXPECT_FALSE(Load(m_dir.string(), err));
    EXPECT_NE(err.find("not a regular file"), std::string::npos) << err;
    // A FIFO is refused at once, not waited on for a writer.
    const std::string fifo = (m_dir / "fifo.lan").string();
    ASSERT_EQ(mkfifo(fifo.c_str(), 0600), 0);
    EXPECT_FALSE(Load(fifo, err));
    EXPECT_NE(err.find("not a regular file"), std::string::npos) << err;
    CaptureOutput capture(stderr);
    EXPECT_FALSE(Lang().LoadLanFile(nullptr));
    EXPECT_NE(capture.Text().find("without a path"), std::string::npos);
    EXPECT_EQ(Lang().GetString("Info040"), "Exit");
}

} // namespace
