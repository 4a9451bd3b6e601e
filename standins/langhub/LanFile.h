// Parser of the language file "Vemora.lan" (format: docs/language-file.md).
#pragma once

#include <cstddef>
#include <map>
#include <string>

// Texts of one language by key, and the languages by index.
using LanTexts = std::map<std::string, std::string, std::less<>>;
using LanTable = std::map<int, LanTexts>;

// Parses the whole file held in data[0..size); nothing beyond size is read
// and no terminator is expected. On success fills table and returns true;
// otherwise returns false with reason set ("line 12: ...") and leaves table
// as it was.
bool ParseLanFile(const char* data, size_t size, LanTable& table, std::string& reason);
