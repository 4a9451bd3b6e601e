#include "BadInput.h"

#include "Files.h"
#include "ImageFile.h"
#include "SessionHost.h"

#include <filesystem>
#include <stdexcept>

namespace {

namespace fs = std::filesystem;

std::string Flipped(std::string bytes, size_t at)
{
    bytes.at(at) ^= 0x40;
    return bytes;
}

// Where the sample's item of this main type (the first, for partitions)
// lies, from its table, so that a flipped byte lands inside that item
// whatever the sizes before it.
size_t ItemOffset(const std::string& mainType)
{
    ImageFile sample;
    std::string why;
    if (!sample.Open(BinPath("sample.img"), why))
        throw std::runtime_error("sample.img: " + why);
    for (const imgfmt::Entry& item : sample.items()) {
        if (imgfmt::FieldText(item.mainType) == mainType)
            return static_cast<size_t>(item.offset);
    }
    throw std::runtime_error("sample.img has no " + mainType + " item");
}

// The reference script with `code` appended, packed as the sample is.
std::string ScriptImage(const std::string& folder, const std::string& name, const std::string& code)
{
    const std::string tools = folder + "/" + name + ".lua";
    WriteFile(tools, ReadFile(SampleSrc("tools.lua")) + "\n" + code + "\n");
    return PackImage(folder, name + ".img", SampleManifest(tools));
}

} // namespace

std::vector<BadInput> MakeBadInputs(const std::string& folder)
{
    WriteFile(folder + "/victim", "must survive\n");
    const std::string sample = ReadFile(BinPath("sample.img"));
    auto image = [&](const std::string& name, const std::string& bytes) {
        WriteFile(folder + "/" + name, bytes);
        return folder + "/" + name;
    };
    // The header, then the item table at 128; the items where the table
    // says.
    const size_t tools = ItemOffset("UPFLYTLS");
    const size_t stage = ItemOffset("FES2BOOT");
    const size_t boot = ItemOffset("PARTITON");
    std::vector<BadInput> inputs = {
        {"foreign file (text)", image("text.img", "This is not a firmware image.\n"), true, false,
            "refused the image"},
        {"empty file", image("empty.img", ""), true, false, "refused the image"},
        {"truncated in the header", image("cut-header.img", sample.substr(0, 40)), true, false,
            "refused the image"},
        {"truncated in the item table", image("cut-table.img", sample.substr(0, 300)), true, false,
            "refused the image"},
        {"truncated after the tool script", image("cut-items.img", sample.substr(0, stage)), true,
            false, "refused the image"},
        {"corrupted header", image("bad-header.img", Flipped(sample, 70)), true, false,
            "refused the image"},
        {"corrupted item table", image("bad-table.img", Flipped(sample, 128 + 60)), true, false,
            "refused the image"},
        {"corrupted tool script", image("bad-tools.img", Flipped(sample, tools + 100)), true, false,
            "refused the image"},
        {"corrupted second stage", image("bad-stage.img", Flipped(sample, stage + 100)), false,
            true, "FEL: CMD_FEL_RUN failed"},
        {"corrupted partition", image("bad-boot.img", Flipped(sample, boot + 100)), false, true,
            "FES: partition boot is damaged in the image (CRC-32 mismatch)"},
    };
    // The tool script failing in each way the driver tells apart.
    const struct {
        const char* what;
        const char* code;
        bool refused;
        const char* said;
    } scripts[] = {
        {"tool script does not compile", "function Tools.Init(", true, "refused the image"},
        {"tool script raises as it loads", "error('no tools today')", true, "refused the image"},
        {"Tools is not a table", "Tools = 'tools'", false, "PnpFelIn Error!"},
        {"Tools.Init missing", "Tools.Init = nil", false, "PnpFelIn Error!"},
        {"Tools.Init raises", "function Tools.Init() error('Init fails', 0) end", false,
            "pcall FAILED Init fails 2 90"},
        {"Tools.Init returns nothing", "function Tools.Init() end", false, "PnpFelIn Error!"},
        {"Tools.Init returns false", "function Tools.Init() return false end", false,
            "PnpFelIn Error!"},
        {"entry_fel2fes missing", "Tools.entry_fel2fes = 7", false,
            "FelThreadEntry g_Tools_if->Fel2Fes Error!!!!"},
        {"entry_fel2fes raises", "function Tools.entry_fel2fes() error('no') end", false,
            "FelThreadEntry g_Tools_if->Fel2Fes Error!!!!"},
        {"entry_fel2fes returns a number", "function Tools.entry_fel2fes() return 1 end", false,
            "FelThreadEntry g_Tools_if->Fel2Fes Error!!!!"},
        {"entry_fel2fes returns false", "function Tools.entry_fel2fes() return false end", false,
            "FelThreadEntry g_Tools_if->Fel2Fes Error!!!!"},
        {"entry_fes_thread missing", "Tools.entry_fes_thread = nil", false,
            "Tools.entry_fes_thread failed with code 253"},
        {"entry_fes_thread raises", "function Tools.entry_fes_thread() error('FES fails', 0) end",
            false, "pcall FAILED FES fails 2 279"},
        {"entry_fes_thread returns a text", "function Tools.entry_fes_thread() return 'ok' end",
            false, "Tools.entry_fes_thread failed with code 290"},
        {"entry_fes_thread returns false", "function Tools.entry_fes_thread() return false end",
            false, "returned value of Tools.entry_fes_thread is error"},
    };
    for (const auto& script : scripts) {
        std::string name = script.what;
        for (char& c : name)
            c = c == ' ' ? '-' : c;
        inputs.push_back({script.what, ScriptImage(folder, name, script.code), script.refused,
            !script.refused, script.said});
    }
    // Paths: the sample under names a shell would take apart, or not ASCII;
    // one too long for the plug-in.
    const std::string shelly = folder + "/my image $(touch pwned) `touch pwned`; rm -f victim &";
    fs::create_directories(shelly);
    inputs.push_back({"path with blanks and shell characters",
        image("my image $(touch pwned) `touch pwned`; rm -f victim &/a b;c|d.img", sample), false,
        false, ""});
    fs::create_directories(folder + "/образ");
    inputs.push_back(
        {"path not ASCII", image("образ/прошивка ü 画像.img", sample), false, false, ""});
    std::string deep = folder;
    while (deep.size() < 270)
        deep += "/" + std::string(40, 'd');
    fs::create_directories(deep);
    inputs.push_back(
        {"path of 300 bytes and more", image(deep.substr(folder.size() + 1) + "/a.img", sample),
            true, false, "bytes long; the plug-in takes at most 259"});
    return inputs;
}

bool NothingExecuted(const std::string& folder, const std::string& programFolder)
{
    for (const std::string& place : {folder, programFolder, fs::current_path().string()}) {
        if (FileExists(place + "/pwned"))
            return false;
    }
    return FileExists(folder + "/victim");
}
