#include "Cells.h"

#include <cstdlib>
#include <fstream>

// Counts of the simulated board's faults (docs/simulated-device.md): in each
// stage the sample's run issues these FEX commands, in this order.
//   FEL: 1 verify (stage query), 2 verify + 3 read (private data), 4 verify +
//        5 write (private data), 6 verify (script), 7/9 download and 8/10 read
//        back the second stage's two chunks, 11 run.
//   FES: 1 verify (stage query), 2 verify + 3 read, 4 verify + 5 write
//        (private data), 6 verify (script), 7 write and 8 read back "boot"
//        (a command moves up to 4 MiB, a whole partition of the sample), 9-12
//        the two other partitions, 13-15 mark the private data.
// A small command is 3 USB transfers of 3 driver requests each, one of them
// its data phase; reads move 512 bytes a request.
const std::vector<Cell> kCells = {
    {"stage query (FEL)", "board unplugged", "unplug@fel:1", "", true, ""},
    {"stage query (FEL)", "driver request fails (EIO)", "fail-request@fel:1:EIO", "", true, ""},
    {"stage query (FEL)", "short request (EPROTO)", "fail-request@fel:2:EPROTO", "", true, ""},
    {"stage query (FEL)", "wrong verify magic", "bad-verify-magic@fel:1", "", true, ""},
    {"stage query (FEL)", "wrong status magic", "bad-status-magic@fel:1", "", true, ""},
    {"stage query (FEL)", "non-zero transfer status", "bad-status@fel:2", "", true, ""},
    {"stage query (FEL)", "node refuses to open (EACCES)", "", "EACCES", true, ""},
    {"private data read (FEL)", "FEX status failed", "fex-fail@fel:3", "", true, ""},
    {"private data read (FEL)", "board unplugged", "unplug@fel:8", "", true, ""},
    {"private data write (FEL)", "FEX status failed", "fex-fail@fel:5", "", true, ""},
    {"private data write (FEL)", "wrong verify magic", "bad-verify-magic@fel:3", "", true, ""},
    {"Tools.Init", "script raises", "", "", true, "init-raises"},
    {"Tools.Init", "script never returns", "", "", true, "init-endless"},
    {"entry_fel2fes: start", "script raises", "", "", true, "fel-raises"},
    {"entry_fel2fes: start", "script never returns", "", "", true, "fel-endless"},
    {"entry_fel2fes: verify", "wrong verify magic", "bad-verify-magic@fel:4", "", true, ""},
    {"entry_fel2fes: download", "FEX status failed", "fex-fail@fel:7", "", true, ""},
    {"entry_fel2fes: download", "board unplugged", "unplug@fel:20", "", true, ""},
    {"entry_fel2fes: read-back", "FEX status failed", "fex-fail@fel:8", "", true, ""},
    {"entry_fel2fes: read-back", "driver request times out", "fail-request@fel:100:ETIMEDOUT", "",
        true, ""},
    {"entry_fel2fes: run", "FEX status failed", "fex-fail@fel:11", "", true, ""},
    {"wait for FES", "board never comes back", "", "", false, ""},
    {"stage query (FES)", "non-zero transfer status", "bad-status@fes:2", "", true, ""},
    {"stage query (FES)", "board unplugged", "unplug@fes:1", "", true, ""},
    {"private data read (FES)", "FEX status failed", "fex-fail@fes:3", "", true, ""},
    {"private data write (FES)", "board unplugged", "unplug@fes:14", "", true, ""},
    {"entry_fes_thread: start", "script raises", "", "", true, "fes-raises"},
    {"entry_fes_thread: verify", "wrong verify magic", "bad-verify-magic@fes:4", "", true, ""},
    {"flashing: write", "FEX status failed", "fex-fail@fes:7", "", true, ""},
    {"flashing: write", "board unplugged", "unplug@fes:20", "", true, ""},
    {"flashing: write", "short request (EPROTO)", "fail-request@fes:59:EPROTO", "", true, ""},
    {"flashing: write", "wrong status magic", "bad-status-magic@fes:21", "", true, ""},
    {"flashing: write", "script never returns", "", "", true, "fes-endless"},
    {"flashing: read-back", "FEX status failed", "fex-fail@fes:8", "", true, ""},
    {"flashing: read-back", "driver request times out", "fail-request@fes:100:ETIMEDOUT", "", true,
        ""},
    {"marking the private data", "FEX status failed", "fex-fail@fes:14", "", true, ""},
    {"final report", "script ends without it", "", "", true, "fes-no-report"},
};

const char* EndKind(const Cell& cell)
{
    const std::string script = cell.scriptFault;
    const bool endless = script.size() > 7 && script.compare(script.size() - 7, 7, "endless") == 0;
    return endless || !cell.returnsInFes ? "time-out" : "error";
}

namespace {

// A table cell: no line breaks or trailing blanks, "|" escaped.
std::string Escaped(const std::string& text)
{
    std::string out;
    for (const char c : text) {
        if (c == '|')
            out += "\\|";
        else if (c == '\n' || c == '\r')
            out += ' ';
        else
            out += c;
    }
    return out.substr(0, out.find_last_not_of(' ') + 1);
}

} // namespace

void WriteTable(const char* file, const char* title, const char* seenColumn,
    const std::vector<Outcome>& outcomes)
{
    const char* folder = std::getenv("VEMORA_FAULT_MATRIX_DIR");
    if (!folder || !*folder)
        return;
    std::ofstream out(std::string(folder) + "/" + file);
    out << "## " << title << "\n\n| Step | What goes wrong | Outcome | " << seenColumn
        << " |\n|---|---|---|---|\n";
    for (size_t i = 0; i < kCells.size() && i < outcomes.size(); ++i) {
        const Outcome& outcome = outcomes[i];
        out << "| " << kCells[i].step << " | " << kCells[i].fault << " | "
            << (outcome.passed ? "" : "FAULT: ") << Escaped(outcome.result) << " | "
            << Escaped(outcome.seen) << " |\n";
    }
}
