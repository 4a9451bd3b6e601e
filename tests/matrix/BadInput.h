// Bad input as users meet it, for vemora-cli and the window alike: foreign,
// truncated and corrupted images, images whose tool script fails in each way
// the tool driver tells apart, and image paths that are long, not ASCII, or
// full of blanks and shell characters.
#pragma once

#include <string>
#include <vector>

struct BadInput {
    std::string what;
    std::string path; // the image as the user names it
    // The plug-in refuses the image when it is loaded; else it is taken and
    // the board fails (`fails`) or is flashed.
    bool refused;
    bool fails;
    // Part of what the runner says: the refusal's message, or the failed
    // board's reason.
    std::string said;
};

// Makes every input below `folder` from the sample image and its files.
// "victim" in `folder` must survive every run, and no file named "pwned" may
// appear (the shell-character path).
std::vector<BadInput> MakeBadInputs(const std::string& folder);

// Nothing executed: no "pwned" file anywhere the runs could have made one,
// "victim" still there.
bool NothingExecuted(const std::string& folder, const std::string& programFolder);
