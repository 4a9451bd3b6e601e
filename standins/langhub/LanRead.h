// Reading the language file, bounded in size.
#pragma once

#include <cstddef>
#include <string>

// Largest language file read, in bytes.
constexpr size_t kMaxLanFileSize = 1024 * 1024;

// Reads the whole regular file at path into data. false with reason when it
// cannot be opened or read, is not a regular file, or is larger than
// kMaxLanFileSize.
bool ReadLanFile(const char* path, std::string& data, std::string& reason);
