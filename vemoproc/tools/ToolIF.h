// The tool interface: four entries that run the functions of a tool script's
// global table `Tools`, and the records they turn into the script's argument
// tables.
#pragma once

#include <cstddef>
#include <cstdint>

struct lua_State;

// Argument of Tools.Init. Text fields are NUL-terminated.
struct _tag_TOOL_INIT_PARA {
    char imgFilePath[260]; // full path of the image file
    char workDir[260];     // full path of the running program file
    int32_t Mode;
    int32_t hWnd;
    int32_t ImgLenLow; // low 32 bits of the image size
    int32_t ImgLenHigh;
};
static_assert(sizeof(_tag_TOOL_INIT_PARA) == 536);
static_assert(offsetof(_tag_TOOL_INIT_PARA, workDir) == 260
    && offsetof(_tag_TOOL_INIT_PARA, Mode) == 520 && offsetof(_tag_TOOL_INIT_PARA, hWnd) == 524
    && offsetof(_tag_TOOL_INIT_PARA, ImgLenLow) == 528
    && offsetof(_tag_TOOL_INIT_PARA, ImgLenHigh) == 532);

// Argument of Tools.entry_fel2fes. The block is as large as the Init record;
// only the node path is read.
struct _tag_TOOL_FELPARA {
    char felDevName[260]; // device node of the device in FEL
    char reserved[276];
};
static_assert(sizeof(_tag_TOOL_FELPARA) == 536 && offsetof(_tag_TOOL_FELPARA, felDevName) == 0);

// Argument of Tools.entry_fes_thread.
struct _tag_TOOL_FESPARA {
    char fesDevName[260]; // device node of the device in FES
    int32_t DeviceId;     // 1 for the first FES device of the plug-in's life
    int32_t hubId;
    int32_t portId;
};
static_assert(sizeof(_tag_TOOL_FESPARA) == 272);
static_assert(offsetof(_tag_TOOL_FESPARA, DeviceId) == 260
    && offsetof(_tag_TOOL_FESPARA, hubId) == 264 && offsetof(_tag_TOOL_FESPARA, portId) == 268);

// Every entry returns 0 when the script function returned true, else a code
// of its own for each way of failing (see LuaToolFex.h).
struct _tag_TOOL_IF {
    unsigned int (*Init)(lua_State* L, const _tag_TOOL_INIT_PARA* para);
    unsigned int (*Exit)(lua_State* L, const _tag_TOOL_INIT_PARA* para);
    unsigned int (*Fel2Fes)(lua_State* L, const _tag_TOOL_FELPARA* para);
    unsigned int (*ToolEntry)(lua_State* L, const _tag_TOOL_FESPARA* para);
};
