// KoraImage with the real image-access script beside it and images packed by
// vemora-imgtool: the tool script comes out of a real image, and images that
// hold none are refused.
#include <gtest/gtest.h>

#include <cstdlib>
#include <filesystem>

#include "PlgApi.h"
#include "ScriptHostSupport.h"

namespace {

namespace fs = std::filesystem;

class RealImage : public ::testing::Test {
protected:
    void SetUp() override
    {
        // The program's directory, as far as image access needs it.
        for (const char* name : {"imgdec_fun.lua", "scriptbase.dll"})
            fs::copy_file(std::string(VEMORA_BIN_DIR) + "/" + name, dir / name);
        ASSERT_EQ(0u, api.SetModuleDir(obj.get(), "x"));
    }

    // Packs the items ("<main> <sub> <file>" lines) into an image; returns its path.
    std::string Pack(const std::string& name, const std::string& items)
    {
        WriteFile(dir / (name + ".manifest"), "version \"scripthost test\"\n" + items);
        const std::string image = dir / name;
        const std::string command = std::string(VEMORA_BIN_DIR) + "/vemora-imgtool pack " + image
            + " " + (dir / (name + ".manifest")) + " > /dev/null";
        EXPECT_EQ(0, std::system(command.c_str())) << command;
        return image;
    }

    // LoadTools on the image; the log lines it wrote go to `log`.
    unsigned int Load(const std::string& image, std::string& log)
    {
        EXPECT_EQ(0u, api.SetImagePath(obj.get(), image.c_str()));
        CapturedLog captured;
        const unsigned int result = api.LoadTools(obj.get());
        log = captured.out();
        return result;
    }

    WorkDir dir;
    const PlgApi& api = Plg();
    ImageObject obj;
};

TEST_F(RealImage, ToolScriptComesOutOfAPackedImage)
{
    const std::string script = ScriptPath("tools_true.lua");
    WriteFile(dir / "payload.bin", std::string(10000, 'p'));
    const std::string image = Pack("good.img",
        "item FES2BOOT secondstage \"" + (dir / "payload.bin") + "\"\n"
            + "item UPFLYTLS xxxxxxxxxxxxxxxx \"" + script + "\"\n");
    std::string log;
    ASSERT_EQ(0u, Load(image, log)) << log;
    EXPECT_EQ(ReadFile(script), ReadFile(dir / "tools.scj"));

    lua_State* L = api.GetLuaState(obj.get());
    const _tag_TOOL_INIT_PARA para {};
    EXPECT_EQ(0u, api.GetToolIF(obj.get())->Init(L, &para));
    EXPECT_EQ("", RunLua(L, "assert(Seen.Init and Img_DownItemToLocal)"));
    EXPECT_EQ(fs::file_size(image), api.GetImageSize(obj.get()));
}

TEST_F(RealImage, ImagesWithoutAToolScriptAreRefused)
{
    WriteFile(dir / "boot.bin", "boot partition");
    WriteFile(dir / "stale", "Tools = 'from before'");
    struct Case {
        const char* what;
        std::string image;
    };
    const Case cases[] = {
        {"no tool script item",
            Pack("no-tools.img", "item PARTITON boot \"" + (dir / "boot.bin") + "\"\n")},
        {"not an image", dir / "boot.bin"},
        {"no such file", dir / "missing.img"},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        fs::copy_file(dir / "stale", dir / "tools.scj", fs::copy_options::overwrite_existing);
        std::string log;
        EXPECT_EQ(309u, Load(c.image, log));
        EXPECT_NE(std::string::npos, log.find("\npcall FAILED imgdec_fun: ")) << log;
        EXPECT_FALSE(FileExists(dir / "tools.scj"));
    }
}

} // namespace
