// A test plug-in whose GetInterface has nothing to give.
#include "Export.h"

VEMORA_EXPORT void* GetInterface(void*)
{
    return nullptr;
}
