// The fault matrix: a board that fails at one step of its run, each cell
// once through vemora-cli and once through the window's handlers. In every
// cell the bad board must end with a clear error (never success) and the
// next board of the same run must flash well.
#pragma once

#include <string>
#include <vector>

struct Cell {
    const char* step;        // where the run is when it goes wrong
    const char* fault;       // what goes wrong, as the table says it
    const char* simFaults;   // VEMORA_SIM_FAULTS of the bad board, "" none
    const char* openError;   // every open of its nodes fails with this, "" none
    bool returnsInFes;       // false: it never comes back after its FEL half
    const char* scriptFault; // the matrix script's fault (matrix.lua), "" none
};

extern const std::vector<Cell> kCells;

// "time-out" for the cells that end by waiting out a time (the wait for FES,
// a script's time limit or the window's watchdog), else "error".
const char* EndKind(const Cell& cell);

// The file in the tool script's working folder that names the script's
// fault; the script removes it when the fault strikes.
constexpr char kScriptPlan[] = "matrix-fault";

// The matrix's timing, shared by both ways in: the wait for FES, the limit of
// a script call, the window's start watchdog (all in ms).
constexpr int kFesWaitMs = 1500;
constexpr int kScriptLimitMs = 3000;
constexpr int kWatchdogMs = 2000;

// What one cell showed through one way in.
struct Outcome {
    bool passed = false;
    std::string result; // "error", "time-out", or what went wrong with the cell
    std::string seen;   // the text the user saw
};

// When VEMORA_FAULT_MATRIX_DIR names a folder, writes `file` there: a table
// headed `title`, one row per cell in kCells order.
void WriteTable(const char* file, const char* title, const char* seenColumn,
    const std::vector<Outcome>& outcomes);
