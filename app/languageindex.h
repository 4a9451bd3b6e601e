// The language index the window asks the language plug-in for, from LANG.
#pragma once

// 0 when a, b and the first n characters of both agree case-insensitively,
// compared over the shortest of the three lengths ("en" matches "en_US",
// "fr_CA.UTF-8" matches "fr_ca" with n = 4).
int LocalePrefixCompare(const char* a, const char* b, int n);

// The index of the language named by LANG: 0 (English) when LANG is unset
// or matches no known locale.
int SelectLanguageIndex();
