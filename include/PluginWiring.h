// The programs' way to their plug-ins (the window Vemora and the runner
// vemora-cli load them alike): the plug-in center "pluginhub.dll" beside the
// program, and the interfaces it hands out.
#pragma once

#include "PluginCenter.h"

// Opens "pluginhub.dll" beside the program and returns its manager, or null
// (what went wrong is printed). The library and the manager are kept for the
// life of the process.
tag_PLUGIN_MAN* OpenPluginCenter();

// Names the plug-in file beside the program to the center in record, loads
// it and returns the interface the center keeps under guid, or null.
void* ObtainInterface(
    tag_PLUGIN_MAN& manager, PluginLoadInfo& record, const char* guid, const char* fileName);
