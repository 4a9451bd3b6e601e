// A library beside the running program, loaded as the program loads it.
// Header only, for the benchmarks (which link the module-path helpers).
#pragma once

#include "ModulePath.h"

#include <cstdio>
#include <dlfcn.h>

// dlopen of `name` beside the program (a library already loaded, say by a
// Lua state, comes back as that one); null, with the reason on standard
// error, when it cannot be loaded.
inline void* OpenBeside(const char* name)
{
    char path[MAX_PATH_LEN];
    if (GetModuleRelPath(name, path) < 0) {
        std::fprintf(stderr, "%s: no path beside the program\n", name);
        return nullptr;
    }
    void* library = dlopen(path, RTLD_NOW);
    if (!library)
        std::fprintf(stderr, "%s\n", dlerror());
    return library;
}
