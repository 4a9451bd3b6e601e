// usbwire.dll as its callers get it: loaded with dlopen (and never unloaded),
// its transport table taken from GetInterface.
#pragma once

#include "EfexIf.h"

#include <cstdint>

// What a failed Fex_Open leaves in the handle.
inline void* const kNoDevice = reinterpret_cast<void*>(intptr_t(-1));

// The table of the library at `path`; null, with the reason on standard
// error, when it cannot be loaded or has no GetInterface.
tag_EFEX_IF* LoadUsbwireTable(const char* path);

// The built usbwire.dll (USBWIRE_DLL), loaded once; null when it cannot be.
void* UsbwireLibrary();
// One of its exports; null when missing.
void* UsbwireSymbol(const char* name);
// Its table, loaded once; null when missing.
tag_EFEX_IF* UsbwireTable();
// Its table, for tests that cannot do without: the program ends when it is
// missing.
tag_EFEX_IF& Fex();
