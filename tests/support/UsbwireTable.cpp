#include "UsbwireTable.h"

#include <cstdio>
#include <cstdlib>
#include <dlfcn.h>

tag_EFEX_IF* LoadUsbwireTable(const char* path)
{
    void* library = dlopen(path, RTLD_NOW);
    if (!library) {
        std::fprintf(stderr, "cannot load %s: %s\n", path, dlerror());
        return nullptr;
    }
    using GetInterfaceFn = tag_EFEX_IF* (*)(void*);
    auto get = reinterpret_cast<GetInterfaceFn>(dlsym(library, "GetInterface"));
    if (!get) {
        std::fprintf(stderr, "%s has no GetInterface\n", path);
        return nullptr;
    }
    return get(nullptr);
}

void* UsbwireLibrary()
{
    static void* library = dlopen(USBWIRE_DLL, RTLD_NOW);
    return library;
}

void* UsbwireSymbol(const char* name)
{
    void* library = UsbwireLibrary();
    return library ? dlsym(library, name) : nullptr;
}

tag_EFEX_IF* UsbwireTable()
{
    static tag_EFEX_IF* table = LoadUsbwireTable(USBWIRE_DLL);
    return table;
}

tag_EFEX_IF& Fex()
{
    tag_EFEX_IF* table = UsbwireTable();
    if (!table)
        std::abort();
    return *table;
}
