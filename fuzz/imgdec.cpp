// Fuzz target: the image-access script "imgdec_fun.lua" through the script
// host of "VemoProc.Plg" on mutated images. KoraImage builds its Lua state
// (running the script from the program's folder) and copies the tool script
// item out of the image with Img_DownItemToLocal; then, in the same state,
// the calls a tool script makes: Img_Open, Img_ReadItem of every item,
// Img_Close.
//
// Input: see ImageInput.h. Checked besides the sanitizers: the copy either
// succeeds with the file in place or fails with nothing left (no file, no
// ".part"); and the script agrees with the other reader of the format, the
// one of vemora-imgtool: both open the image or both refuse it, and both copy
// the tool script out with the same bytes or both refuse.
#include "FuzzSupport.h"
#include "ImageInput.h"

#include "Commands.h"
#include "ImageFile.h"
#include "image/KoraImage.h"

#include <cstdio>
#include <fstream>
#include <lua.hpp>
#include <sstream>
#include <unistd.h>

namespace {

struct Host {
    unsigned int (*SetModuleDir)(KoraImage*, const char*);
    unsigned int (*SetImagePath)(KoraImage*, const char*);
    lua_State* (*GetLuaState)(KoraImage*);
    unsigned int (*GetImageSize)(KoraImage*);
    unsigned int (*GetToolsFromImage)(KoraImage*, const char*, const char*);
    KoraImage* image;
};

// The image object of the plug-in, made once in the program's folder, where
// "imgdec_fun.lua" and "scriptbase.dll" lie.
Host MakeHost()
{
    using fuzz::Resolve;
    void* plg = fuzz::OpenLibrary(VEMOPROC_PLG);
    Host host {};
    host.SetModuleDir
        = Resolve<decltype(host.SetModuleDir)>(plg, "_ZN9KoraImage12SetModuleDirEPKc");
    host.SetImagePath
        = Resolve<decltype(host.SetImagePath)>(plg, "_ZN9KoraImage12SetImagePathEPKc");
    host.GetLuaState = Resolve<decltype(host.GetLuaState)>(plg, "_ZN9KoraImage11GetLuaStateEv");
    host.GetImageSize = Resolve<decltype(host.GetImageSize)>(plg, "_ZN9KoraImage12GetImageSizeEv");
    host.GetToolsFromImage
        = Resolve<decltype(host.GetToolsFromImage)>(plg, "_ZN9KoraImage17GetToolsFromImageEPKcS1_");
    // The script loads "scriptbase.dll" into each state, and closing a state
    // unloads it; kept loaded, since the fuzzer reads the coverage of every
    // library it has seen.
    fuzz::OpenLibrary(SCRIPTBASE_DLL);
    // Never destroyed: the plug-in stays loaded for the process.
    alignas(KoraImage) static unsigned char storage[sizeof(KoraImage)];
    host.image = reinterpret_cast<KoraImage*>(storage);
    Resolve<void (*)(KoraImage*)>(plg, "_ZN9KoraImageC1Ev")(host.image);
    FUZZ_CHECK(chdir(FUZZ_BIN_DIR) == 0);
    FUZZ_CHECK(host.SetModuleDir(host.image, FUZZ_BIN_DIR) == 0);
    return host;
}

std::string Contents(const std::string& path)
{
    std::ifstream in(path, std::ios::binary);
    std::ostringstream bytes;
    bytes << in.rdbuf();
    return bytes.str();
}

// What a tool script does with an image: open it, read the start of every
// item, close it. Returns whether it opened; raises nothing else.
const char kToolScript[] = R"(
local path = ...
local ok, img = pcall(Img_Open, path)
if not ok then return false end
local buf = MallocBuffer(4096)
for _, item in ipairs(img.items) do
    local n = math.min(item.size, 4096)
    assert(pcall(Img_ReadItem, img, item, 0, buf, n))
    assert(not pcall(Img_ReadItem, img, item, item.size, buf, 1))
end
FreeBuffer(buf)
Img_Close(img)
return true
)";

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size)
{
    // The host moves the process into the program's folder; the fuzzer reads
    // its corpus by the paths it was given, which may be relative.
    static const std::string start = fuzz::CurrentDir();
    static const Host host = MakeHost();
    static const std::string image = fuzz::ScratchDir() + "/image.img";
    static const std::string tools = fuzz::ScratchDir() + "/tools.scj";
    static const std::string other = fuzz::ScratchDir() + "/tools.imgtool";
    const std::string bytes = fuzz::ImageFromInput(data, size);
    fuzz::WriteFile(image, bytes.data(), bytes.size());
    unlink(tools.c_str());
    unlink(other.c_str());

    FUZZ_CHECK(host.SetImagePath(host.image, image.c_str()) == 0);
    FUZZ_CHECK(host.GetImageSize(host.image) == bytes.size());
    const unsigned int copied = host.GetToolsFromImage(host.image, image.c_str(), tools.c_str());
    FUZZ_CHECK(copied == 0 || copied == IMAGE_EXTRACT_RAISED);
    FUZZ_CHECK(fuzz::FileExists(tools) == (copied == 0));
    FUZZ_CHECK(!fuzz::FileExists(tools + ".part"));

    const int extracted = ExtractItem(image, "UPFLYTLS", "xxxxxxxxxxxxxxxx", other, false);
    FUZZ_CHECK((extracted == 0) == (copied == 0));
    FUZZ_CHECK(copied != 0 || Contents(tools) == Contents(other));

    lua_State* L = host.GetLuaState(host.image);
    FUZZ_CHECK(luaL_loadbuffer(L, kToolScript, sizeof kToolScript - 1, "tool script") == 0);
    lua_pushstring(L, image.c_str());
    if (lua_pcall(L, 1, 1, 0) != 0)
        std::fprintf(stderr, "fuzz: %s\n", lua_tostring(L, -1));
    FUZZ_CHECK(lua_isboolean(L, -1));
    ImageFile file;
    std::string why;
    FUZZ_CHECK(lua_toboolean(L, -1) == file.Open(image, why));
    lua_pop(L, 1);
    FUZZ_CHECK(chdir(start.c_str()) == 0);
    return 0;
}
