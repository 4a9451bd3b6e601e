// Bad input (BadInput.h) through vemora-cli: each image given to a runner
// with one sound simulated board. A refused image ends the start with status
// 3 and the reason; an image whose script fails fails its board with the
// reason; the odd paths flash. The image files stay as they were and nothing
// in a path is executed.
#include "BadInput.h"
#include "CliProcess.h"
#include "Files.h"

#include <gtest/gtest.h>

#include <memory>
#include <thread>

namespace {

using namespace std::chrono_literals;

constexpr size_t kAtOnce = 8;

const std::vector<std::string> kOneBoard = {"VEMORA_SIM_BOARDS=1", "VEMORA_SIM_PLUG_DELAY_MS=100",
    "VEMORA_SIM_FES_DELAY_MS=20", "VEMORA_SIM_FLASH_SIZE=33M", "VEMORA_FES_WAIT_MS=3000"};

// What the run should have shown, or what it showed instead.
std::string Verdict(const BadInput& input, int status, const std::string& output)
{
    auto has = [&](const std::string& text) { return output.find(text) != std::string::npos; };
    if (input.refused) {
        if (status != 3 || !has(input.said))
            return "not refused with \"" + input.said + "\"";
        return "";
    }
    if (input.fails) {
        if (status != 1 || LinesWith(output, "board 1: FAILED (").empty()
            || LinesWith(output, "board 1: FAILED (")[0].find(input.said) == std::string::npos)
            return "board 1 not failed with \"" + input.said + "\"";
        return "";
    }
    return status == 0 && has("board 1: ok, DeviceId 1") ? "" : "board 1 not flashed";
}

TEST(BadInput, ThroughTheRunner)
{
    ScratchDir scratch;
    const std::vector<BadInput> inputs = MakeBadInputs(scratch.path());
    std::vector<std::string> before;
    for (const BadInput& input : inputs)
        before.push_back(ReadFile(input.path));
    std::vector<std::string> verdicts(inputs.size());
    std::vector<std::string> outputs(inputs.size());
    std::vector<std::string> folders(inputs.size());
    for (size_t begin = 0; begin < inputs.size(); begin += kAtOnce) {
        const size_t end = std::min(inputs.size(), begin + kAtOnce);
        // Started from this thread before any reader runs (see RunnerMatrix).
        std::vector<std::unique_ptr<CliProcess>> runners;
        for (size_t i = begin; i < end; ++i) {
            runners.push_back(std::make_unique<CliProcess>(CliOptions {
                "", {"--count", "1", "--plain", "--yes", inputs[i].path}, kOneBoard, true, false}));
            folders[i] = runners.back()->Folder();
        }
        std::vector<std::thread> readers;
        for (size_t i = begin; i < end; ++i) {
            readers.emplace_back([&, i] {
                CliProcess& runner = *runners[i - begin];
                const int status = runner.Finish(45s);
                outputs[i] = runner.Output();
                verdicts[i] = Verdict(inputs[i], status, outputs[i]);
            });
        }
        for (std::thread& reader : readers)
            reader.join();
    }
    for (size_t i = 0; i < inputs.size(); ++i) {
        std::string told;
        for (const char* mark : {" board ", " summary: ", "vemora-cli: "}) {
            for (const std::string& line : LinesWith(outputs[i], mark))
                told += line + "\n";
        }
        EXPECT_EQ("", verdicts[i]) << inputs[i].what << "\n" << told;
        EXPECT_EQ(before[i], ReadFile(inputs[i].path)) << inputs[i].what << ": image changed";
        EXPECT_TRUE(NothingExecuted(scratch.path(), folders[i])) << inputs[i].what;
    }
}

} // namespace
