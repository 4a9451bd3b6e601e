// The plug-in's handle on the chosen firmware image. The image is never
// parsed here: a Lua state runs the image-access script "./imgdec_fun.lua"
// from the module directory, whose Img_DownItemToLocal copies the tool script
// item out of the image into "tools.scj"; that script is then run in the same
// state and its `Tools` table is reached through the tool interface.
//
// The state is used by several threads (the device-event thread, the session
// threads, the window's thread when it loads an image), one at a time: every
// entry into the state and everything that closes or replaces it holds
// StateLock(). The methods below that touch the state take it themselves; a
// caller that must keep the state unchanged across several calls holds it
// around them (it is recursive). StateGeneration() changes whenever the state
// is closed or replaced or its tools are loaded again, so a caller can tell
// whether the state it prepared is still the one in place.
#pragma once

#include <atomic>
#include <cstdint>
#include <mutex>

#include "ModulePath.h"
#include "tools/ToolIF.h"

// Result codes (0 = success). LoadTools passes on the code of the step that
// failed.
enum : unsigned int {
    IMAGE_NULL_PATH = 104,        // SetImagePath: null path
    IMAGE_PATH_TOO_LONG = 108,    // SetImagePath: path of 260 bytes or more
    IMAGE_NO_STATE = 113,         // SetImagePath: the image script state could not be prepared
    IMAGE_NULL_DIR = 143,         // SetModuleDir: null directory
    IMAGE_BAD_DIR = 147,          // SetModuleDir: working directory unreadable or longer than 249
    IMAGE_NOT_SET = 181,          // LoadTools: no image path or no module directory
    IMAGE_PLUG_NO_DIR = 223,      // LoadToolsPlug: no module directory
    IMAGE_PLUG_NO_STATE = 241,    // LoadToolsPlug: no script state
    IMAGE_TOOLS_UNREADABLE = 243, // LoadToolsPlug: "tools.scj" could not be read or compiled
    IMAGE_TOOLS_RAISED = 253,     // LoadToolsPlug: running "tools.scj" raised an error
    IMAGE_NO_TOOL_IF = 259,       // LoadToolsPlug: no tool interface
    IMAGE_EXTRACT_NO_STATE = 305, // GetToolsFromImage: no script state
    IMAGE_EXTRACT_RAISED = 309,   // GetToolsFromImage: Img_DownItemToLocal raised an error
};

class __attribute__((visibility("default"))) KoraImage {
public:
    KoraImage();
    ~KoraImage(); // deletes the work files, then closes the state
    KoraImage(const KoraImage&) = delete;
    KoraImage& operator=(const KoraImage&) = delete;

    // Takes the process's working directory as the module directory; `dir`
    // only has to be non-null.
    unsigned int SetModuleDir(const char* dir);
    // Rebuilds the script state and stores the path. An empty path changes
    // nothing; a failure leaves the stored path as it was.
    unsigned int SetImagePath(const char* path);
    const char* GetImagePath();
    lua_State* GetLuaState();
    _tag_TOOL_IF* GetToolIF();
    // Low 32 bits of the image file's size; 0 when it cannot be read.
    unsigned int GetImageSize();

    // A fresh state in which "./imgdec_fun.lua" has run, or null (the state
    // is then closed). Changes the process's working directory to the
    // module directory.
    lua_State* GetLuaInstant();
    unsigned int CloseLua();

    // Deletes old work files, extracts the tool script and loads it.
    unsigned int LoadTools();
    unsigned int GetToolsFromImage(const char* imagePath, const char* localPath);
    unsigned int LoadToolsPlug();
    unsigned int UnLoadTools();
    // Deletes "tools.scj" and "dram.ini" from the module directory.
    void RemoveTools();

    std::recursive_mutex& StateLock() { return m_stateLock; }
    uint64_t StateGeneration() const { return m_stateGeneration.load(); }

private:
    void SetState(lua_State* L);

    char m_szModuleDir[MAX_PATH_LEN];
    char m_szImageFile[MAX_PATH_LEN];
    lua_State* m_pLua;
    _tag_TOOL_IF* m_pToolIF;
    std::recursive_mutex m_stateLock;
    std::atomic<uint64_t> m_stateGeneration;
};
