// The contract of the language plug-in "langhub.dll": it reads a language
// file and hands out the window's texts by key ("Info040"), as UTF-8.
#pragma once

#include <string>

// A plain record of function pointers, obtained through the plug-in center
// under LANGHUB_GUID (PluginCenter.h). The slots may be called from any
// thread.
struct tag_LANG_IF {
    // Slot 0: loads the language file at path. true when it was loaded; a
    // file that cannot be read or parsed is refused whole (the reason goes to
    // standard error) and the texts loaded before stay.
    bool (*LoadLanFile)(const char* path);
    // Slot 1: the text of key in the chosen language, else in English, else
    // empty.
    std::string (*GetString)(std::string key);
    // Slot 2: not used, null.
    void* reserved2;
    // Slot 3: chooses the language by index (0 is English).
    void (*SetLanguage)(int index);
};
