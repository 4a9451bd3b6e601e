// GetInterface: the transport as a table of seven functions for native
// callers (the process plug-in gets it through the plug-in center).
#include "EfexIf.h"
#include "eFexCore.h"

namespace {

// Constant-initialised and never written, so every caller on every thread
// sees the same address and the same slots.
tag_EFEX_IF g_interface = {
    Fex_Open,
    Fex_Close,
    Fex_Query,
    Fex_Send,
    Fex_Recv,
    Fex_transmit_receive,
    Fex_command,
};

} // namespace

VEMORA_EXPORT tag_EFEX_IF* GetInterface(void*)
{
    return &g_interface;
}
