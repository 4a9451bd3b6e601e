#include "ModulePath.h"

#include "PyrraDebug.h"

#include <cerrno>
#include <cstdio>
#include <cstring>
#include <dlfcn.h>
#include <unistd.h>

void* OpenModule(const char* path)
{
    PyrraDebug::DebugMsg("library file path: %s\n", path);
    void* handle = dlopen(path, RTLD_LAZY);
    if (!handle)
        PyrraDebug::DebugErr("%s\n", dlerror());
    return handle;
}

void CloseModule(void* handle)
{
    if (handle)
        dlclose(handle);
}

void ZeroBuffer(void* buffer, unsigned int length)
{
    std::memset(buffer, 0, length);
}

int TextLength(const char* text)
{
    return static_cast<int>(std::strlen(text));
}

const char* NextChar(const char* p)
{
    return p + 1;
}

int ReadExePath(char* buffer, int size)
{
    const ssize_t n = readlink("/proc/self/exe", buffer, size);
    if (n < 0 || n >= size) {
        // readlink succeeds on a link that does not fit; name the real reason
        // rather than let perror print "Success".
        if (n >= size)
            errno = ENAMETOOLONG;
        std::perror("readlink failed:");
        // A link that did not fit left the buffer unterminated; callers then
        // work with an empty path.
        ZeroBuffer(buffer, size);
        return 0;
    }
    buffer[size - 1] = 0;
    return size;
}

void GetModuleFilePath(char* dst)
{
    char path[MAX_PATH_LEN];
    ZeroBuffer(path, sizeof path);
    ReadExePath(path, sizeof path);
    std::memcpy(dst, path, std::strlen(path) + 1);
}

int GetModuleRelPath(const char* name, char* dst)
{
    char path[MAX_PATH_LEN];
    ZeroBuffer(path, sizeof path);
    if (ReadExePath(path, sizeof path) == 0) {
        // Without the program's directory any path made here would name a
        // file somewhere else (under "/"): refuse instead.
        PyrraDebug::DebugErr("path of %s beside the program is unknown: the program's own path "
                             "is unreadable or longer than %d characters\n",
            name, MAX_PATH_LEN - 1);
        dst[0] = 0;
        return -1;
    }

    // Cut the file name. Index 0 is never examined, so a program lying in the
    // root directory keeps its "/".
    for (int i = TextLength(path); i >= 1; --i) {
        if (path[i] == '/') {
            path[i] = 0;
            break;
        }
        path[i] = 0;
    }

    const size_t dirLen = std::strlen(path);
    const size_t nameLen = std::strlen(name);
    if (dirLen + 1 + nameLen >= static_cast<size_t>(MAX_PATH_LEN)) {
        PyrraDebug::DebugErr(
            "path of %s beside the program is longer than %d characters\n", name, MAX_PATH_LEN - 1);
        dst[0] = 0;
        return -1;
    }
    std::memcpy(dst, path, dirLen);
    dst[dirLen] = '/';
    std::memcpy(dst + dirLen + 1, name, nameLen + 1);
    return static_cast<int>(dirLen + 1 + nameLen);
}

int MakePluginLoadInfo(PluginLoadInfo* record, const char* guid, const char* fileName)
{
    ZeroBuffer(record, sizeof *record);
    char path[MAX_PATH_LEN];
    if (GetModuleRelPath(fileName, path) < 0)
        return -1;
    const size_t guidLen = std::strlen(guid);
    if (guidLen >= sizeof record->szGuid) {
        PyrraDebug::DebugErr(
            "plug-in GUID %s is longer than %zu characters\n", guid, sizeof record->szGuid - 1);
        return -1;
    }
    std::memcpy(record->szGuid, guid, guidLen + 1);
    std::memcpy(record->szPath, path, std::strlen(path) + 1);
    return 0;
}

tag_PLUGIN_MAN* LoadPluginCenter(void** handleOut)
{
    char path[MAX_PATH_LEN];
    *handleOut = nullptr;
    if (GetModuleRelPath("pluginhub.dll", path) >= 0)
        *handleOut = OpenModule(path);
    if (*handleOut) {
        auto getMan = reinterpret_cast<PFN_GetPluginMan>(dlsym(*handleOut, "GetPluginMan"));
        if (getMan)
            return getMan();
        PyrraDebug::DebugErr("%s\n", dlerror());
        return nullptr;
    }
    // No line end: the fixed text has none; kept on purpose.
    PyrraDebug::DebugErr("LoadPluginCenter Error");
    return nullptr;
}
