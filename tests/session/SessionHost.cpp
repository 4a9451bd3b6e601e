#include "SessionHost.h"

#include <condition_variable>
#include <cstdlib>
#include <cstring>
#include <dlfcn.h>
#include <mutex>

#include "Files.h"
#include "PluginCenter.h"

namespace {

// Never destroyed: the plug-in's threads may call the host while the
// process exits.
struct Record {
    mutable std::mutex lock;
    mutable std::condition_variable changed;
    std::vector<HostCall> calls;
    std::string image;
    int reloads = 0;
    bool hold = false;
    bool answered = false;
    int answer = 0;
};

Record& R()
{
    static Record* record = new Record;
    return *record;
}

const VemoProcFunc* g_fn;

void Add(HostCall::Slot slot, unsigned int code, const char* text, const VemoTipRun* tip = nullptr)
{
    std::lock_guard<std::mutex> hold(R().lock);
    HostCall call {slot, code, text ? text : "", {}, std::chrono::steady_clock::now()};
    if (tip)
        call.tip = *tip;
    R().calls.push_back(call);
    R().changed.notify_all();
}

int OnBegin(void*, unsigned int armTimeout, void*)
{
    Add(HostCall::Begin, armTimeout, nullptr);
    // The window's rule: the image is loaded again only when a FEL board
    // starts a run, never for a late FES board.
    if (armTimeout != 0) {
        std::string image;
        {
            std::lock_guard<std::mutex> hold(R().lock);
            image = R().image;
            ++R().reloads;
        }
        g_fn->LoadFWFile(image.c_str());
    }
    return 0;
}

// Progress, error, warning and end: recorded.
template <HostCall::Slot slot> int OnReport(void*, unsigned int code, const char* text)
{
    Add(slot, code, text);
    return 0;
}

int OnTip(void*, unsigned int code, void* data)
{
    Add(HostCall::Tip, code, nullptr, static_cast<const VemoTipRun*>(data));
    return 0;
}

int OnQuestion(void*, void* first, void*)
{
    Add(HostCall::Question, 0, static_cast<const char*>(first));
    std::unique_lock<std::mutex> hold(R().lock);
    if (!R().hold)
        return 1;
    R().changed.wait(hold, [] { return R().answered || !R().hold; });
    R().answered = false;
    return R().answer;
}

} // namespace

SessionHost& SessionHost::Get()
{
    static SessionHost* host = new SessionHost;
    return *host;
}

void SessionHost::Start()
{
    if (m_fn) {
        // Also again in a new working directory, which the manager takes as
        // its module directory; the monitor is not started twice.
        const VemoCallbackFun callbacks {OnBegin, OnReport<HostCall::Process>,
            OnReport<HostCall::Error>, OnReport<HostCall::Warning>, OnReport<HostCall::Over>, OnTip,
            nullptr, OnQuestion};
        ASSERT_EQ(0, m_fn->InitVemoProc(nullptr, callbacks));
        ASSERT_EQ(0, m_fn->DeviceMsgLoop(nullptr));
        return;
    }
    void* hub = dlopen(BinPath("pluginhub.dll").c_str(), RTLD_NOW);
    ASSERT_TRUE(hub) << dlerror();
    auto getMan = reinterpret_cast<PFN_GetPluginMan>(dlsym(hub, "GetPluginMan"));
    ASSERT_TRUE(getMan);
    tag_PLUGIN_MAN* man = getMan();
    PluginLoadInfo info {};
    std::snprintf(info.szGuid, sizeof info.szGuid, "%s", VEMOPROC_GUID);
    std::snprintf(info.szPath, sizeof info.szPath, "%s", BinPath("VemoProc.Plg").c_str());
    ASSERT_EQ(0, man->LoadPlugin(&info));
    g_fn = static_cast<const VemoProcFunc*>(man->GetPluginInterface(VEMOPROC_GUID));
    ASSERT_TRUE(g_fn);
    m_fn = g_fn;
    Start();
}

int SessionHost::Load(const std::string& image)
{
    {
        std::lock_guard<std::mutex> hold(R().lock);
        R().image = image;
    }
    return m_fn->LoadFWFile(image.c_str());
}

int SessionHost::Reloads() const
{
    std::lock_guard<std::mutex> hold(R().lock);
    return R().reloads;
}

std::vector<HostCall> SessionHost::Calls() const
{
    std::lock_guard<std::mutex> hold(R().lock);
    return R().calls;
}

std::vector<HostCall> SessionHost::Since(size_t from, HostCall::Slot slot, unsigned int code) const
{
    std::vector<HostCall> found;
    const std::vector<HostCall> calls = Calls();
    for (size_t i = from; i < calls.size(); ++i) {
        if (calls[i].slot == slot && (code == ~0u || calls[i].code == code))
            found.push_back(calls[i]);
    }
    return found;
}

bool SessionHost::WaitFor(size_t from,
    const std::function<bool(const std::vector<HostCall>&)>& done,
    std::chrono::milliseconds timeout) const
{
    std::unique_lock<std::mutex> hold(R().lock);
    return R().changed.wait_for(hold, timeout, [&] {
        return done(
            std::vector<HostCall>(R().calls.begin() + static_cast<long>(from), R().calls.end()));
    });
}

bool SessionHost::WaitForCall(
    size_t from, HostCall::Slot slot, unsigned int code, std::chrono::milliseconds timeout) const
{
    return WaitFor(
        from,
        [&](const std::vector<HostCall>& calls) {
            for (const HostCall& c : calls) {
                if (c.slot == slot && (code == ~0u || c.code == code))
                    return true;
            }
            return false;
        },
        timeout);
}

void SessionHost::HoldQuestions(bool hold)
{
    std::lock_guard<std::mutex> lock(R().lock);
    R().hold = hold;
    R().changed.notify_all();
}

void SessionHost::Answer(int answer)
{
    std::lock_guard<std::mutex> lock(R().lock);
    R().answer = answer;
    R().answered = true;
    R().changed.notify_all();
}

std::string SampleGen(const std::string& name)
{
    return std::string(SAMPLE_GEN_DIR) + "/" + name;
}

std::string SampleSrc(const std::string& name)
{
    return std::string(SAMPLE_SRC_DIR) + "/" + name;
}

std::string PackImage(const std::string& dir, const std::string& name, const std::string& lines)
{
    const std::string manifest = dir + "/" + name + ".manifest";
    WriteFile(manifest, lines);
    const std::string command
        = BinPath("vemora-imgtool") + " pack " + dir + "/" + name + " " + manifest + " > /dev/null";
    return std::system(command.c_str()) == 0 ? dir + "/" + name : "";
}

std::string SampleManifest(const std::string& tool)
{
    return "item UPFLYTLS xxxxxxxxxxxxxxxx \"" + tool + "\"\n" + "item FES2BOOT secondstage \""
        + SampleGen("secondstage.bin") + "\" target=0x4A000000\n" + "item PARTITON boot \""
        + SampleGen("boot.img") + "\" target=0x100000\n" + "item PARTITON rootfs \""
        + SampleGen("rootfs.img") + "\" target=0x400000\n" + "item PARTITON secure \""
        + SampleGen("secure.img") + "\" target=0x2000000 encrypt\n";
}

::testing::AssertionResult FlashHoldsSample(const std::vector<uint8_t>& flash)
{
    std::vector<uint8_t> expected(flash.size(), 0);
    const std::pair<const char*, size_t> parts[]
        = {{"boot.img", 0x100000}, {"rootfs.img", 0x400000}, {"secure.img", 0x2000000}};
    for (const auto& [file, target] : parts) {
        const std::string data = ReadFile(SampleGen(file));
        if (data.empty() || target + data.size() > expected.size())
            return ::testing::AssertionFailure() << file << " does not fit the flash";
        std::memcpy(expected.data() + target, data.data(), data.size());
    }
    if (flash == expected)
        return ::testing::AssertionSuccess();
    const auto diff = std::mismatch(flash.begin(), flash.end(), expected.begin());
    return ::testing::AssertionFailure()
        << "flash differs from the partitions at byte " << (diff.first - flash.begin());
}
