// Interface of the test plug-ins that the plug-in center loads in tests.
#pragma once

struct TestPluginIf {
    const char* name; // which test plug-in file handed it out
    char guid[64];    // the GUID text its GetInterface received
    const char* kept; // that text where the center put it: a plug-in may keep it
    int (*Calls)();   // GetInterface calls of that library so far
};
