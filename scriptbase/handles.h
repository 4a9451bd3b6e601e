// What scriptbase.dll handed out to scripts, for the whole process (a handle
// made in one Lua state works in another): the live buffers with their
// sizes, the open streams and the descriptors LFopen opened. Every function
// checks the handles it is given against these before it touches memory or
// a file.
#pragma once

#include "HandleRegistry.h"
#include "ScriptBuffers.h"

// MallocBuffer adds, FreeBuffer removes.
extern HandleRegistry& g_buffers;
// fopen adds (size 0), fclose removes.
extern HandleRegistry& g_streams;

// LFopen adds, LFclose removes. Add is false when memory runs out.
bool AddDescriptor(int fd) noexcept;
bool RemoveDescriptor(int fd) noexcept;
bool HasDescriptor(int fd) noexcept;

// g_buffers for the other script libraries; RegBuferFun leaves it in the
// Lua state's registry.
extern const tag_SCRIPT_BUFFERS g_scriptBuffers;
