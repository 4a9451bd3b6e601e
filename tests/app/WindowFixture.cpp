#include "WindowFixture.h"

#include <cstdio>
#include <dlfcn.h>

namespace {

void* Symbol(const char* path, const char* name)
{
    void* library = dlopen(path, RTLD_NOW);
    void* symbol = library ? dlsym(library, name) : nullptr;
    if (!symbol)
        std::fprintf(stderr, "cannot load %s from %s: %s\n", name, path, dlerror());
    return symbol;
}

} // namespace

bool LoadWindowPlugins(WindowPlugins& plugins)
{
    const auto language = reinterpret_cast<tag_LANG_IF* (*)(void*)>(
        Symbol(VEMORA_BIN_DIR "/langhub.dll", "GetInterface"));
    const auto process
        = reinterpret_cast<VemoProcFunc* (*)(void*)>(Symbol(TESTPROC_PATH, "GetInterface"));
    const auto control
        = reinterpret_cast<PFN_TestProc_Control>(Symbol(TESTPROC_PATH, "TestProc_Control"));
    if (!language || !process || !control)
        return false;
    plugins.language = language(nullptr);
    plugins.process = process(nullptr);
    plugins.control = control();
    return true;
}
