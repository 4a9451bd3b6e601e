#include "Usbwire.h"

#include <dlfcn.h>

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

tag_EFEX_IF& Fex()
{
    using GetInterfaceFn = tag_EFEX_IF* (*)(void*);
    static tag_EFEX_IF* table = [] {
        auto get = reinterpret_cast<GetInterfaceFn>(UsbwireSymbol("GetInterface"));
        return get ? get(nullptr) : nullptr;
    }();
    if (!table) {
        ADD_FAILURE() << "usbwire.dll or GetInterface not found: " << dlerror();
        std::abort();
    }
    return *table;
}

void WireTest::SetUp()
{
    simdrv::AttachNode(kNode, model);
    ASSERT_EQ(fex.Fex_Open(&handle, const_cast<char*>(kNode)), 0);
}

void WireTest::TearDown()
{
    if (handle != nullptr && handle != kNoDevice)
        fex.Fex_Close(&handle);
    simdrv::DetachNode(kNode);
}
