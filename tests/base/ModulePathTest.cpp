#include "ModulePath.h"

#include "CaptureOutput.h"
#include "Files.h"

#include <algorithm>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <gtest/gtest.h>
#include <string>

namespace fs = std::filesystem;

namespace {

fs::path BinDir()
{
    char self[MAX_PATH_LEN];
    GetModuleFilePath(self);
    return fs::path(self).parent_path();
}

struct ProbeRun {
    std::string out;
    std::string err;
};

// A scratch directory with the path probe copied into it.
class ProbeDir : public ::testing::Test {
protected:
    // Copies the probe to dir/fileName and runs it with args.
    ProbeRun Run(const fs::path& dir, const std::string& fileName, const std::string& args)
    {
        fs::create_directories(dir);
        const fs::path exe = dir / fileName;
        fs::copy_file(BinDir() / "base_pathprobe", exe, fs::copy_options::overwrite_existing);
        const fs::path out = m_root / "out", err = m_root / "err";
        const std::string command = "'" + exe.string() + "' " + args + " >'" + out.string()
            + "' 2>'" + err.string() + "'";
        EXPECT_EQ(std::system(command.c_str()), 0) << command;
        return {ReadFile(out), ReadFile(err)};
    }

    // A directory below the root whose full path is exactly length characters.
    fs::path DirOfLength(size_t length)
    {
        fs::path dir = m_root;
        while (dir.string().size() < length) {
            const size_t left = length - dir.string().size() - 1;
            dir /= std::string(std::min<size_t>(left, 200), 'd');
        }
        EXPECT_EQ(dir.string().size(), length);
        return dir;
    }

    ScratchDir m_scratch;
    const fs::path m_root = m_scratch.path();
};

TEST_F(ProbeDir, PathsBesideTheProgram)
{
    const fs::path dir = m_root / "opt" / "tool";
    const ProbeRun run = Run(dir, "vemora", "rel pluginhub.dll");
    const std::string rel = (dir / "pluginhub.dll").string();
    EXPECT_EQ(run.out,
        "file=" + (dir / "vemora").string() + "\nrel=" + rel
            + "\nresult=" + std::to_string(rel.size()) + "\n");
    EXPECT_EQ(run.err, "");
}

TEST_F(ProbeDir, LongestPathIsKeptOneMoreIsRefused)
{
    // 259 characters in all: directory, "/", name.
    const fs::path dir = DirOfLength(200);
    const std::string fits(58, 'f');
    const ProbeRun ok = Run(dir, "p", "rel " + fits);
    EXPECT_NE(ok.out.find("rel=" + (dir / fits).string() + "\nresult=259\n"), std::string::npos)
        << ok.out;

    const std::string tooLong(59, 'g');
    const ProbeRun refused = Run(dir, "p", "rel " + tooLong);
    EXPECT_NE(refused.out.find("\nrel=\nresult=-1\n"), std::string::npos) << refused.out;
    EXPECT_EQ(
        refused.err, "path of " + tooLong + " beside the program is longer than 259 characters\n");
}

TEST_F(ProbeDir, ProgramPathTooLongForTheBufferIsRefused)
{
    const fs::path dir = DirOfLength(300);
    const ProbeRun run = Run(dir, "p", "rel x.dll");
    EXPECT_EQ(run.out, "file=\nrel=\nresult=-1\n");
    EXPECT_EQ(run.err.rfind("readlink failed:: File name too long\n", 0), 0u) << run.err;
    EXPECT_NE(run.err.find("path of x.dll beside the program is unknown: the program's own path "
                           "is unreadable or longer than 259 characters\n"),
        std::string::npos)
        << run.err;
}

TEST_F(ProbeDir, LoadPluginCenterOpensTheCenterBesideTheProgram)
{
    const fs::path dir = m_root / "app";
    const ProbeRun missing = Run(dir, "vemora", "center");
    EXPECT_EQ(
        missing.out, "library file path: " + (dir / "pluginhub.dll").string() + "\n\nmanager=0\n");
    EXPECT_NE(missing.err.find("pluginhub.dll"), std::string::npos);
    EXPECT_EQ(missing.err.size() >= 22
            && missing.err.compare(missing.err.size() - 22, 22, "LoadPluginCenter Error") == 0,
        true)
        << missing.err;

    fs::copy_file(BinDir() / "pluginhub.dll", dir / "pluginhub.dll");
    const ProbeRun found = Run(dir, "vemora", "center");
    EXPECT_NE(found.out.find("\nmanager=1\n"), std::string::npos) << found.out;
    EXPECT_EQ(found.err, "");
}

TEST(ModulePath, OpenModuleLogsThePathAndTheLoaderError)
{
    CaptureOutput out(stdout);
    CaptureOutput err(stderr);
    EXPECT_EQ(OpenModule("/nonexistent/none.dll"), nullptr);
    EXPECT_EQ(out.Text(), "library file path: /nonexistent/none.dll\n");
    const std::string error = err.Text();
    EXPECT_NE(error.find("/nonexistent/none.dll"), std::string::npos);
    EXPECT_EQ(error.back(), '\n');
}

TEST(ModulePath, PluginLoadInfoIsZeroPaddedAfterEachText)
{
    PluginLoadInfo info;
    std::memset(&info, 0xAA, sizeof info);
    ASSERT_EQ(MakePluginLoadInfo(&info, USBWIRE_GUID, "usbwire.dll"), 0);

    const unsigned char* bytes = reinterpret_cast<const unsigned char*>(&info);
    const size_t guidLength = std::strlen(USBWIRE_GUID);
    EXPECT_EQ(std::memcmp(bytes, USBWIRE_GUID, guidLength), 0);
    for (size_t i = guidLength; i < 64; ++i)
        ASSERT_EQ(bytes[i], 0) << "byte " << i;

    const std::string path = (BinDir() / "usbwire.dll").string();
    EXPECT_EQ(std::memcmp(bytes + 64, path.c_str(), path.size()), 0);
    for (size_t i = 64 + path.size(); i < sizeof info; ++i)
        ASSERT_EQ(bytes[i], 0) << "byte " << i;
}

TEST(ModulePath, PluginLoadInfoRefusesTextsThatDoNotFit)
{
    PluginLoadInfo info;
    const std::string guid64(64, 'G');
    CaptureOutput err(stderr);
    EXPECT_EQ(MakePluginLoadInfo(&info, guid64.c_str(), "x.dll"), -1);
    const std::string longName(300, 'n');
    std::memset(&info, 0xAA, sizeof info);
    EXPECT_EQ(MakePluginLoadInfo(&info, "g", longName.c_str()), -1);
    const std::string log = err.Text();
    EXPECT_NE(
        log.find("plug-in GUID " + guid64 + " is longer than 63 characters\n"), std::string::npos);
    EXPECT_NE(log.find("path of " + longName + " beside the program is longer than 259"),
        std::string::npos);
    const unsigned char* bytes = reinterpret_cast<const unsigned char*>(&info);
    for (size_t i = 0; i < sizeof info; ++i)
        ASSERT_EQ(bytes[i], 0) << "byte " << i;
}

} // namespace
