// A host of "VemoProc.Plg" as the window is: pluginhub.dll opened from
// build/bin, the plug-in loaded and its table taken through the center,
// InitVemoProc with a recording callback record whose pfnBurnBegin loads the
// image again only for a non-zero armTimeout, then DeviceMsgLoop. One per
// process (the plug-in's manager is one per process).
#pragma once

#include <gtest/gtest.h>

#include <chrono>
#include <cstdint>
#include <functional>
#include <string>
#include <vector>

#include "VemoProc.h"

using namespace std::chrono_literals;

// One call the plug-in made on the host.
struct HostCall {
    enum Slot { Begin, Process, Error, Warning, Over, Tip, Question } slot;
    unsigned int code; // armTimeout, percent, or the tip code
    std::string text;
    VemoTipRun tip;
    std::chrono::steady_clock::time_point at;
};

class SessionHost {
public:
    static SessionHost& Get();

    // Loads and starts the plug-in (once; later calls only check it). The
    // current directory must hold imgdec_fun.lua and scriptbase.dll: it is
    // the plug-in's module directory.
    void Start();
    bool Started() const { return m_fn != nullptr; }
    const VemoProcFunc& Fn() const { return *m_fn; }
    // LoadFWFile; the path is also what pfnBurnBegin(1) loads again.
    int Load(const std::string& image);
    int Reloads() const;

    // Every call so far; Mark() is where a test's own calls begin.
    std::vector<HostCall> Calls() const;
    size_t Mark() const { return Calls().size(); }
    // The calls since `from` that match.
    std::vector<HostCall> Since(size_t from, HostCall::Slot slot, unsigned int code = ~0u) const;
    // Waits until `done` holds for the calls since `from`.
    bool WaitFor(size_t from, const std::function<bool(const std::vector<HostCall>&)>& done,
        std::chrono::milliseconds timeout = 10s) const;
    // Waits for a call of that slot (and code) since `from`.
    bool WaitForCall(size_t from, HostCall::Slot slot, unsigned int code = ~0u,
        std::chrono::milliseconds timeout = 10s) const;

    // Questions wait until Answer() while held; otherwise they get 1.
    void HoldQuestions(bool hold);
    void Answer(int answer);

private:
    SessionHost() = default;
    const VemoProcFunc* m_fn = nullptr;
};

// Text that sample-like images need besides the sample's own files.
std::string SampleGen(const std::string& name);
std::string SampleSrc(const std::string& name);
// Packs an image from manifest lines with vemora-imgtool; "" on failure.
std::string PackImage(const std::string& dir, const std::string& name, const std::string& lines);
// The sample image's manifest lines, with `tool` as its tool script.
std::string SampleManifest(const std::string& tool);
// The board's whole flash equals the sample's partitions at their targets.
::testing::AssertionResult FlashHoldsSample(const std::vector<uint8_t>& flash);
