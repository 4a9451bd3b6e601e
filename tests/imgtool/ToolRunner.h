// Runs vemora-imgtool from build/bin and keeps what it printed.
#pragma once

#include "Files.h"
#include "Pattern.h"

#include <cstdint>
#include <string>
#include <vector>

struct ToolResult {
    int status = -1; // exit status, or -1 when it did not exit normally
    std::string out;
    std::string err;
};

// `fileSizeLimit` > 0 caps the size of files the tool may write (RLIMIT_FSIZE).
ToolResult RunImgTool(const std::vector<std::string>& args, uint64_t fileSizeLimit = 0);
