// The runner's exit statuses (--help lists them).
#pragma once

enum : int {
    kExitAllGood = 0,     // every board ended well
    kExitBoardFailed = 1, // a board failed or was cut off
    kExitUsage = 2,       // bad command line
    kExitCannotStart = 3, // image or plug-in missing, unreadable or refused; folder taken
    kExitInterrupted = 4, // interrupted before --count boards finished, none failed
};
