// The fault matrix (Cells.h) through vemora-cli: per cell one runner with two
// simulated boards preloaded, the first one bad. The runner must end by
// itself with status 1, the first board's summary line FAILED with its
// reason, the second board flashed. Cells run several at a time.
#include "Cells.h"
#include "CliProcess.h"
#include "Files.h"

#include <gtest/gtest.h>

#include <memory>
#include <thread>

namespace {

using namespace std::chrono_literals;

constexpr size_t kAtOnce = 8;
// The operator takes a board away once the host has let go of it for this
// long: after a script's time limit, so that the next board comes once the
// bad board's run has visibly ended.
const std::string kIdleUnplug = std::to_string(kScriptLimitMs + 1000);
// The next board comes this long after the bad one has gone: after the wait
// for its return in FES has run out.
const std::string kPlugInterval = std::to_string(kFesWaitMs + 500);
constexpr auto kCellTime = 45s;

std::vector<std::string> Variables(const Cell& cell)
{
    std::vector<std::string> variables = {"VEMORA_SIM_BOARDS=2", "VEMORA_SIM_FAULTY_BOARDS=1",
        "VEMORA_SIM_PLUG_DELAY_MS=100", "VEMORA_SIM_PLUG_INTERVAL_MS=" + kPlugInterval,
        "VEMORA_SIM_FES_DELAY_MS=20", "VEMORA_SIM_FES_IDLE_UNPLUG_MS=" + kIdleUnplug,
        "VEMORA_SIM_FEL_IDLE_UNPLUG_MS=" + kIdleUnplug, "VEMORA_SIM_FLASH_SIZE=33M",
        "VEMORA_FES_WAIT_MS=" + std::to_string(kFesWaitMs)};
    if (*cell.simFaults)
        variables.push_back(std::string("VEMORA_SIM_FAULTS=") + cell.simFaults);
    if (*cell.openError)
        variables.push_back(std::string("VEMORA_SIM_OPEN_ERROR=") + cell.openError);
    if (!cell.returnsInFes)
        variables.push_back("VEMORA_SIM_FES_RETURN=never");
    return variables;
}

// The line from "board N: " on, without the durations of its halves; "" when
// there is none.
std::string BoardLine(const std::string& output, const std::string& start)
{
    const auto lines = LinesWith(output, start);
    if (lines.empty())
        return "";
    const std::string line = lines.front().substr(lines.front().find(start));
    return line.substr(0, line.find(", FEL half "));
}

Outcome Judge(const Cell& cell, int status, const std::string& output)
{
    Outcome outcome;
    const std::string first = BoardLine(output, "board 1: FAILED");
    outcome.seen = first.empty() ? BoardLine(output, "board 1: ") : first;
    if (status < 0) {
        outcome.result = "no end within the cell's time";
        return outcome;
    }
    if (first.empty()) {
        outcome.result = "board 1 not reported failed (status " + std::to_string(status) + ")";
        return outcome;
    }
    if (BoardLine(output, "board 2: ok, DeviceId").empty()) {
        outcome.result = "the next board was not flashed";
        outcome.seen += " / " + BoardLine(output, "board 2: ");
        return outcome;
    }
    if (status != 1 || LinesWith(output, "summary: 2 boards, 1 ok, 1 failed (board 1)").empty()) {
        outcome.result = "exit status " + std::to_string(status) + " or summary wrong";
        return outcome;
    }
    outcome.passed = true;
    outcome.result = std::string(EndKind(cell)) + ", exit 1, next board ok";
    return outcome;
}

TEST(FaultMatrix, ThroughTheRunner)
{
    std::vector<Outcome> outcomes(kCells.size());
    std::vector<std::string> outputs(kCells.size());
    for (size_t begin = 0; begin < kCells.size(); begin += kAtOnce) {
        const size_t end = std::min(kCells.size(), begin + kAtOnce);
        // All started from this thread before any reader runs: a fork while
        // other threads run could inherit a lock they hold.
        std::vector<std::unique_ptr<CliProcess>> runners;
        for (size_t i = begin; i < end; ++i) {
            const std::string limit = std::to_string((kScriptLimitMs + 999) / 1000);
            runners.push_back(std::make_unique<CliProcess>(CliOptions {"",
                {"--count", "2", "--plain", "--yes", "--script-limit", limit, MATRIX_IMG},
                Variables(kCells[i]), true, false}));
            if (*kCells[i].scriptFault)
                WriteFile(runners.back()->Folder() + "/" + kScriptPlan, kCells[i].scriptFault);
        }
        std::vector<std::thread> readers;
        for (size_t i = begin; i < end; ++i) {
            readers.emplace_back([&, i] {
                CliProcess& runner = *runners[i - begin];
                const int status = runner.Finish(kCellTime);
                outputs[i] = runner.Output();
                outcomes[i] = Judge(kCells[i], status, outputs[i]);
            });
        }
        for (std::thread& reader : readers)
            reader.join();
    }
    for (size_t i = 0; i < kCells.size(); ++i) {
        std::string told; // the runner's own lines and the simulator's
        for (const char* mark : {" board ", " summary: ", "simdev: ", "vemora-cli"}) {
            for (const std::string& line : LinesWith(outputs[i], mark))
                told += line + "\n";
        }
        EXPECT_TRUE(outcomes[i].passed)
            << kCells[i].step << ", " << kCells[i].fault << ": " << outcomes[i].result << "\n"
            << told;
    }
    WriteTable("runner.md", "Through vemora-cli", "Board 1's summary line", outcomes);
}

} // namespace
