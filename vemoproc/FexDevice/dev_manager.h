// Opening and closing eFex device handles through the transport table:
// raw handles for one short exchange, and the FEL or FES handle of a device
// record. Every function returns 0 on success; the raw open fails with its
// own codes, everything else with -1.
#pragma once

#include "EfexIf.h"
#include "Export.h"
#include "efex_priv.h"

// Failures of dev_manager_open_raw_dev.
enum : int {
    DEV_MANAGER_NULL_ARG = 275,    // the table, the path or the handle pointer is null
    DEV_MANAGER_OPEN_FAILED = 281, // the transport refused the open (the handle holds -1)
};

VEMORA_EXPORT int dev_manager_open_raw_dev(tag_EFEX_IF* efex_if, char* path, void** handle);
VEMORA_EXPORT int dev_manager_close_raw_dev(tag_EFEX_IF* efex_if, void** handle);

VEMORA_EXPORT int dev_manager_open_fel_dev(tag_TOOL_THREAD_PARA* para);
VEMORA_EXPORT int dev_manager_close_fel_dev(tag_TOOL_THREAD_PARA* para);
VEMORA_EXPORT int dev_manager_open_fes_dev(tag_TOOL_THREAD_PARA* para);
VEMORA_EXPORT int dev_manager_close_fes_dev(tag_TOOL_THREAD_PARA* para);
VEMORA_EXPORT int _dev_manager_close_efex_dev(tag_TOOL_THREAD_PARA* para, unsigned kind);

int _dev_manager_open_efex_dev(tag_TOOL_THREAD_PARA* para, unsigned kind);
