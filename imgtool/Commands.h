// The commands of vemora-imgtool. Each returns 0, or 1 after printing why
// to standard error.
#pragma once

#include <string>

int PackImage(const std::string& imagePath, const std::string& source);
int ListImage(const std::string& imagePath);
int ExtractItem(const std::string& imagePath, const std::string& mainType,
    const std::string& subType, const std::string& outPath, bool decrypt);
int ExtractAll(const std::string& imagePath, const std::string& dir);
