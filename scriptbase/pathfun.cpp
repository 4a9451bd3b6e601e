// Script paths: the program's directory, the working directory and the file
// name of a path. Paths are separated by "/" only.
#include "LuaRegister.h"
#include "luaarg.h"
#include "scriptbase.h"

#include "ModulePath.h"

#include <cstring>
#include <new>
#include <unistd.h>

namespace {

// The text after the last "/" of path, searched down to its first
// character so that "/name" gives "name"; "" when there is no "/".
const char* FileNameOf(const char* path)
{
    const char* slash = std::strrchr(path, '/');
    return slash ? slash + 1 : "";
}

// The running program's directory with a trailing "/" into dir
// (MAX_PATH_LEN bytes). False when the program's path cannot be read or
// does not fit: a cut or stand-in directory would name some other place.
bool ModuleDirectory(char* dir)
{
    char path[MAX_PATH_LEN];
    ZeroBuffer(path, sizeof path);
    if (ReadExePath(path, sizeof path) == 0)
        return false;
    GetDirectoryFromPath(path, dir);
    return true;
}

// No exception may leave an exported function: a string that cannot be
// allocated comes back empty.
CBCString TextOrEmpty(const char* text) noexcept
{
    try {
        return CBCString(text);
    } catch (const std::bad_alloc&) {
        return CBCString();
    }
}

} // namespace

void GetDirectoryFromPath(const char* path, char* out)
{
    const char* slash = std::strrchr(path, '/');
    if (!slash) {
        std::memcpy(out, "./", 3);
        return;
    }
    const size_t n = static_cast<size_t>(slash - path) + 1;
    std::memmove(out, path, n);
    out[n] = 0;
}

CBCString GetModulePath()
{
    char dir[MAX_PATH_LEN];
    return ModuleDirectory(dir) ? TextOrEmpty(dir) : CBCString();
}

CBCString GetFileNameFromPath(const char* path, bool slash)
{
    return TextOrEmpty(slash ? FileNameOf(path) : "");
}

// GetExecPath() -> the program's directory with a trailing "/"
int l_GetExecPath(lua_State* L)
{
    char dir[MAX_PATH_LEN];
    if (!ModuleDirectory(dir))
        return luaL_error(L,
            "GetExecPath: the program's path is unreadable or longer than %d characters",
            MAX_PATH_LEN - 1);
    lua_pushstring(L, dir);
    return 1;
}

// GetCurrentDirectory() -> the working directory ("" when too long)
int l_GetCurrentDirectory(lua_State* L)
{
    char dir[MAX_PATH_LEN];
    ZeroBuffer(dir, sizeof dir);
    if (!getcwd(dir, sizeof dir))
        dir[0] = 0;
    lua_pushstring(L, dir);
    return 1;
}

// SetCurrentDirectory(path) -> none
int l_SetCurrentDirectory(lua_State* L)
{
    // Moves the base of every relative path of the whole process. The
    // outcome is not reported; a script checks with GetCurrentDirectory.
    const char* path = ArgPath(L, "SetCurrentDirectory", 1);
    [[maybe_unused]] const int rc = path ? chdir(path) : -1;
    return 1;
}

// GetFileNameFromPath(path) -> text after the last "/"
int l_GetFileNameFromPath(lua_State* L)
{
    lua_pushstring(L, FileNameOf(ArgString(L, "GetFileNameFromPath", 1)));
    return 1;
}

static const luaL_Reg kPathFunctions[] = {
    {"GetExecPath", l_GetExecPath},
    {"GetCurrentDirectory", l_GetCurrentDirectory},
    {"SetCurrentDirectory", l_SetCurrentDirectory},
    {"GetFileNameFromPath", l_GetFileNameFromPath},
    {nullptr, nullptr},
};

// The path group alone.
int RegPathFun(lua_State* L)
{
    RegisterGlobals(L, kPathFunctions);
    return 1;
}
