// Helpers that find files beside the running executable and open the
// plug-in center. One copy is linked into each library.
#pragma once

#include "PluginCenter.h"

// Every path and image name in the system fits this buffer.
constexpr int MAX_PATH_LEN = 260;

// dlopen(path, RTLD_LAZY) with a log line; null (and dlerror logged) on failure.
void* OpenModule(const char* path);
void CloseModule(void* handle);

void ZeroBuffer(void* buffer, unsigned int length);
int TextLength(const char* text);
const char* NextChar(const char* p);

// Reads /proc/self/exe into a zero-filled buffer of `size` bytes. Returns
// size, or 0 (after perror "readlink failed:", buffer zero-filled) when the
// link cannot be read or does not fit.
int ReadExePath(char* buffer, int size);

// Full path of the executable into dst (MAX_PATH_LEN bytes).
void GetModuleFilePath(char* dst);

// The executable's directory + "/" + name into dst (MAX_PATH_LEN bytes).
// Returns the length, or -1 (dst empty, logged) when the path would not fit
// or the executable's own path cannot be read.
int GetModuleRelPath(const char* name, char* dst);

// Fills the record with the GUID and the full path of fileName beside the
// executable. Returns 0, or -1 (record zeroed, logged) when either text
// does not fit its field.
int MakePluginLoadInfo(PluginLoadInfo* record, const char* guid, const char* fileName);

// Opens "pluginhub.dll" beside the executable and returns its manager, or
// null. The library handle goes to *handleOut; the caller closes it.
tag_PLUGIN_MAN* LoadPluginCenter(void** handleOut);
