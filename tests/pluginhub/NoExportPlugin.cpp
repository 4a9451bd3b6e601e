// A test library that exports something, but not GetInterface.
#include "Export.h"

VEMORA_EXPORT int NotAPlugin()
{
    return 1;
}
