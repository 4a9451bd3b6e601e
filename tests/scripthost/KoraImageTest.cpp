// KoraImage working beside a scratch "program directory": the image-access
// script, extraction into "tools.scj", loading the tools, the work files.
#include <gtest/gtest.h>

#include <sys/stat.h>
#include <unistd.h>

#include <filesystem>
#include <fstream>

#include "PlgApi.h"
#include "ScriptHostSupport.h"

namespace {

namespace fs = std::filesystem;

// The test image-access script treats the image file as the tool script.
class Image : public ::testing::Test {
protected:
    void SetUp() override
    {
        CopyScript("imgdec_copy.lua", dir / "imgdec_fun.lua");
        image = dir / "sample.img";
        CopyScript("tools_true.lua", image);
        toolsFile = dir / "tools.scj";
        dramFile = dir / "dram.ini";
    }

    // Module directory and image set, as the process manager does.
    void Ready()
    {
        ASSERT_EQ(0u, api.SetModuleDir(obj.get(), "the argument is not used"));
        ASSERT_EQ(0u, api.SetImagePath(obj.get(), image.c_str()));
    }

    WorkDir dir;
    const PlgApi& api = Plg();
    ImageObject obj;
    std::string image;
    std::string toolsFile;
    std::string dramFile;
};

// Members called with the object first.
#define CALL(fn, ...) api.fn(obj.get(), ##__VA_ARGS__)

TEST_F(Image, LoadsTheToolScriptFromTheImage)
{
    ASSERT_EQ(0u, CALL(SetModuleDir, "x"));
    ASSERT_EQ(0u, CALL(SetImagePath, image.c_str()));
    EXPECT_EQ(image, CALL(GetImagePath));
    lua_State* L = CALL(GetLuaState);
    ASSERT_NE(nullptr, L);
    EXPECT_EQ(nullptr, CALL(GetToolIF));

    ASSERT_EQ(0u, CALL(LoadTools));
    EXPECT_EQ(ReadFile(image), ReadFile(toolsFile));
    EXPECT_EQ(api.g_LuaToolIF, CALL(GetToolIF));
    EXPECT_EQ(L, *api.g_pToolLuaState);
    EXPECT_EQ(L, CALL(GetLuaState)) << "extraction and tools share the image state";
    ASSERT_EQ("", RunLua(L, "assert(#Calls == 1) First = Calls[1]"));
    EXPECT_EQ(image + "|UPFLYTLS|xxxxxxxxxxxxxxxx|" + toolsFile, GlobalText(L, "First"));

    _tag_TOOL_INIT_PARA para {};
    EXPECT_EQ(0u, CALL(GetToolIF)->Init(L, &para));
    EXPECT_EQ("", RunLua(L, "assert(Seen.Init and Calls[1])")) << "both scripts' globals live on";
    EXPECT_EQ(ReadFile(image).size(), CALL(GetImageSize));
}

TEST_F(Image, ModuleDirectoryIsTheWorkingDirectory)
{
    WriteFile(dir / "marker.txt", "");
    ASSERT_EQ(0u, CALL(SetModuleDir, "/somewhere/else/Vemora"));
    ASSERT_EQ(0, chdir("/"));
    ASSERT_EQ(0u, CALL(SetImagePath, image.c_str()));
    EXPECT_EQ("true", GlobalText(CALL(GetLuaState), "ChunkSawMarker"));
    EXPECT_EQ(fs::path(dir.path()), fs::current_path());
    ASSERT_EQ(0u, CALL(LoadTools));
    EXPECT_TRUE(FileExists(toolsFile));
}

TEST_F(Image, NullEmptyAndOverlongPaths)
{
    EXPECT_EQ(143u, CALL(SetModuleDir, nullptr));
    EXPECT_EQ(104u, CALL(SetImagePath, nullptr));
    ASSERT_EQ(0u, CALL(SetModuleDir, ""));
    ASSERT_EQ(0u, CALL(SetImagePath, image.c_str()));
    lua_State* L = CALL(GetLuaState);

    EXPECT_EQ(0u, CALL(SetImagePath, ""));
    EXPECT_EQ(image, CALL(GetImagePath));
    EXPECT_EQ(L, CALL(GetLuaState)) << "an empty path leaves the state alone";

    const std::string overlong = "/" + std::string(259, 'p');
    CapturedLog log;
    EXPECT_EQ(108u, CALL(SetImagePath, overlong.c_str()));
    log.Take();
    EXPECT_NE(std::string::npos, log.out().find("image path too long"));
    EXPECT_EQ(image, CALL(GetImagePath));
    EXPECT_EQ(L, CALL(GetLuaState));

    const std::string longest = "/" + std::string(258, 'p');
    EXPECT_EQ(0u, CALL(SetImagePath, longest.c_str()));
    EXPECT_EQ(longest, CALL(GetImagePath));
}

TEST_F(Image, ImageScriptThatCannotRun)
{
    Ready();
    struct Case {
        const char* script; // null: no image-access script at all
        const char* line;
    };
    for (const Case& c :
        {Case {nullptr, "luaL_loadfile imgdec_fun Failed cannot open ./imgdec_fun.lua"},
            Case {"imgdec_syntax.lua", "luaL_loadfile imgdec_fun Failed ./imgdec_fun.lua:"},
            Case {"imgdec_chunk_error.lua",
                "lua_pcall imgdec_fun Failed image access unavailable\n"}}) {
        SCOPED_TRACE(c.line);
        fs::remove(dir / "imgdec_fun.lua");
        if (c.script)
            CopyScript(c.script, dir / "imgdec_fun.lua");
        CapturedLog log;
        EXPECT_EQ(113u, CALL(SetImagePath, (dir / "other.img").c_str()));
        log.Take();
        EXPECT_NE(std::string::npos, log.out().find(c.line)) << log.out();
        EXPECT_NE(std::string::npos, log.out().find("./image/KoraImage @ "));
        EXPECT_NE(std::string::npos, log.out().find(" GetLuaInstant failed\n"));
        EXPECT_EQ(image, CALL(GetImagePath)) << "the previous path stays";
        EXPECT_EQ(nullptr, CALL(GetLuaState)) << "the half-built state is closed";
    }
}

TEST_F(Image, ModuleDirectoryThatIsGone)
{
    // "./imgdec_fun.lua" of whatever directory is current must not run in
    // place of the program's own.
    const std::string gone = dir / "gone";
    fs::create_directory(gone);
    fs::current_path(gone);
    ASSERT_EQ(0u, CALL(SetModuleDir, "x"));
    fs::current_path(dir.path());
    fs::remove(gone);
    CapturedLog log;
    EXPECT_EQ(113u, CALL(SetImagePath, image.c_str()));
    log.Take();
    EXPECT_EQ(0u, log.out().find("chdir " + gone + " failed: No such file or directory\n"))
        << log.out();
    EXPECT_EQ(nullptr, CALL(GetLuaState));
    EXPECT_EQ("", std::string(CALL(GetImagePath)));
}

TEST_F(Image, LoadToolsNeedsImageAndDirectory)
{
    EXPECT_EQ(181u, CALL(LoadTools));
    EXPECT_EQ(223u, CALL(LoadToolsPlug));
    ASSERT_EQ(0u, CALL(SetModuleDir, "x"));
    EXPECT_EQ(181u, CALL(LoadTools)) << "no image yet";
}

TEST_F(Image, ExtractionFailures)
{
    for (const char* script : {"imgdec_none.lua", "imgdec_fail.lua"}) {
        SCOPED_TRACE(script);
        CopyScript(script, dir / "imgdec_fun.lua");
        Ready();
        CapturedLog log;
        EXPECT_EQ(309u, CALL(LoadTools));
        log.Take();
        EXPECT_EQ(0u, log.out().find("\npcall FAILED ")) << log.out();
        EXPECT_NE(std::string::npos,
            log.out().find(" 2 307\n./image/KoraImage, GetToolsFromImage failed "));
        EXPECT_FALSE(FileExists(toolsFile));
    }
    CopyScript("imgdec_fail.lua", dir / "imgdec_fun.lua");
    Ready();
    CapturedLog log;
    CALL(LoadTools);
    EXPECT_EQ(0u, log.out().find("\npcall FAILED no item UPFLYTLS in " + image + " 2 307\n"));
}

TEST_F(Image, GuardedGlobalsWithoutTheFunction)
{
    // A script that guards against undeclared globals makes the lookup of the
    // missing function raise: a refused image, not the end of the process.
    WriteFile(dir / "imgdec_fun.lua",
        "setmetatable(_G, { __index = function(_, k) error('undeclared ' .. k, 0) end })\n");
    Ready();
    CapturedLog log;
    EXPECT_EQ(309u, CALL(LoadTools));
    log.Take();
    EXPECT_EQ(0u, log.out().find("\npcall FAILED undeclared Img_DownItemToLocal 2 307\n"))
        << log.out();
    EXPECT_EQ(0, lua_gettop(CALL(GetLuaState)));
}

TEST_F(Image, ChunkResultsDoNotPileUp)
{
    WriteFile(dir / "imgdec_fun.lua", ReadFile(ScriptPath("imgdec_copy.lua")) + "return 1, 2, 3\n");
    WriteFile(image, ReadFile(ScriptPath("tools_true.lua")) + "return Tools, 4, 5\n");
    Ready();
    lua_State* L = CALL(GetLuaState);
    EXPECT_EQ(0, lua_gettop(L));
    for (int load = 0; load < 3; ++load) {
        ASSERT_EQ(0u, CALL(LoadTools));
        EXPECT_EQ(0, lua_gettop(L)) << "after load " << load;
    }
    _tag_TOOL_INIT_PARA para {};
    EXPECT_EQ(0u, CALL(GetToolIF)->Init(L, &para));
    EXPECT_EQ(0, lua_gettop(L));
}

TEST_F(Image, ToolScriptFailures)
{
    Ready();
    ASSERT_EQ(0u, CALL(LoadTools));
    ASSERT_NE(nullptr, CALL(GetToolIF));

    CopyScript("tools_syntax.lua", image);
    CapturedLog log;
    EXPECT_EQ(243u, CALL(LoadTools));
    log.Take();
    EXPECT_NE(std::string::npos, log.out().find("Load " + toolsFile + " failed\n"));
    EXPECT_NE(std::string::npos, log.out().find("./image/KoraImage, LoadToolsPlug failed "));
    EXPECT_EQ(nullptr, CALL(GetToolIF));

    CopyScript("tools_chunk_error.lua", image);
    CapturedLog log2;
    EXPECT_EQ(253u, CALL(LoadTools));
    log2.Take();
    EXPECT_NE(
        std::string::npos, log2.out().find("pcall FAILED tool script refuses to load 2 251\r\n\n"));
    EXPECT_EQ(nullptr, CALL(GetToolIF));
}

TEST_F(Image, FailedExtractionKeepsTheToolInterface)
{
    Ready();
    ASSERT_EQ(0u, CALL(LoadTools));
    CopyScript("imgdec_fail.lua", dir / "imgdec_fun.lua");
    ASSERT_EQ(0u, CALL(SetImagePath, image.c_str()));
    CapturedLog quiet;
    EXPECT_EQ(309u, CALL(LoadTools));
    EXPECT_EQ(api.g_LuaToolIF, CALL(GetToolIF));
}

TEST_F(Image, WithoutAScriptStateNothingRuns)
{
    Ready();
    EXPECT_EQ(0u, CALL(CloseLua));
    EXPECT_EQ(nullptr, CALL(GetLuaState));
    EXPECT_EQ(0u, CALL(CloseLua));
    CapturedLog log;
    EXPECT_EQ(305u, CALL(LoadTools));
    EXPECT_EQ(305u, CALL(GetToolsFromImage, image.c_str(), toolsFile.c_str()));
    EXPECT_EQ(241u, CALL(LoadToolsPlug));
    log.Take();
    EXPECT_NE(std::string::npos, log.out().find(" no image script state\n"));

    lua_State* L = CALL(GetLuaInstant);
    ASSERT_NE(nullptr, L);
    EXPECT_EQ(L, CALL(GetLuaState));
    EXPECT_EQ(0u, CALL(LoadTools));
}

TEST_F(Image, StaleWorkFilesGoBeforeExtraction)
{
    CopyScript("imgdec_fail.lua", dir / "imgdec_fun.lua");
    Ready();
    WriteFile(toolsFile, "Tools = 'from an earlier image'");
    WriteFile(dramFile, "[dram]");
    CapturedLog quiet;
    EXPECT_EQ(309u, CALL(LoadTools));
    EXPECT_FALSE(FileExists(toolsFile));
    EXPECT_FALSE(FileExists(dramFile));
}

TEST_F(Image, RemovingWorkFiles)
{
    Ready();
    WriteFile(dramFile, "[dram]");
    {
        CapturedLog log;
        CALL(RemoveTools);
        log.Take();
        EXPECT_EQ("", log.out());
        EXPECT_FALSE(FileExists(dramFile));
    }

    // A tools.scj that cannot go does not keep dram.ini.
    fs::create_directory(toolsFile);
    WriteFile(toolsFile + "/keep", "");
    WriteFile(dramFile, "[dram]");
    {
        CapturedLog log;
        EXPECT_EQ(0u, CALL(UnLoadTools));
        log.Take();
        EXPECT_EQ("unlink " + toolsFile + " error: Is a directory\n", log.out());
        EXPECT_FALSE(FileExists(dramFile));
    }
    fs::remove_all(toolsFile);

    ASSERT_EQ(0u, CALL(LoadTools));
    WriteFile(dramFile, "[dram]");
    EXPECT_EQ(0u, CALL(UnLoadTools));
    EXPECT_FALSE(FileExists(toolsFile));
    EXPECT_FALSE(FileExists(dramFile));
}

TEST_F(Image, DestructionRemovesWorkFiles)
{
    {
        ImageObject other;
        ASSERT_EQ(0u, api.SetModuleDir(other.get(), "x"));
        ASSERT_EQ(0u, api.SetImagePath(other.get(), image.c_str()));
        ASSERT_EQ(0u, api.LoadTools(other.get()));
        WriteFile(dramFile, "[dram]");
        ASSERT_TRUE(FileExists(toolsFile));
    }
    EXPECT_FALSE(FileExists(toolsFile));
    EXPECT_FALSE(FileExists(dramFile));

    WriteFile(toolsFile, "x");
    {
        ImageObject noDirectory;
        api.RemoveTools(noDirectory.get());
    }
    EXPECT_TRUE(FileExists(toolsFile)) << "without a module directory nothing is removed";
}

TEST_F(Image, ModuleDirectoryLengthLimit)
{
    const std::string longest = DeepDirectory(dir.path(), 249);
    CopyScript("imgdec_copy.lua", longest + "/imgdec_fun.lua");
    ASSERT_EQ(0u, CALL(SetModuleDir, "x"));
    ASSERT_EQ(0u, CALL(SetImagePath, image.c_str()));
    ASSERT_EQ(0u, CALL(LoadTools));
    EXPECT_TRUE(FileExists(longest + "/tools.scj"));
    CALL(UnLoadTools);

    fs::current_path(dir.path());
    DeepDirectory(dir / "again", 250);
    CapturedLog log;
    EXPECT_EQ(147u, CALL(SetModuleDir, "x"));
    log.Take();
    EXPECT_NE(std::string::npos, log.out().find("working directory unreadable or longer than 249"));
    EXPECT_EQ(181u, CALL(LoadTools));
}

TEST_F(Image, ImageSizeIsTheLow32Bits)
{
    ASSERT_EQ(0u, CALL(SetModuleDir, "x"));
    const std::string missing = dir / "missing.img";
    ASSERT_EQ(0u, CALL(SetImagePath, missing.c_str()));
    EXPECT_EQ(0u, CALL(GetImageSize));

    const std::string big = dir / "big.img";
    for (const auto& [size, low] :
        {std::pair<uint64_t, unsigned int> {2147483648u, 2147483648u}, {4294967296u + 5, 5u}}) {
        {
            std::ofstream create(big);
        }
        fs::resize_file(big, size); // sparse
        ASSERT_EQ(0u, CALL(SetImagePath, big.c_str()));
        EXPECT_EQ(low, CALL(GetImageSize));
    }
}

} // namespace
