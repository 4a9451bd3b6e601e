// The window's texts by key ("Info062"), from the language plug-in.
#pragma once

#include <QString>

struct tag_LANG_IF;

// The text of key from the language plug-in (UTF-8). When the plug-in has
// none (no language file was loaded, or the file lacks the key), the window's
// own English text for the keys it shows in boxes, the information line and
// the status bar; empty for any other key.
QString WindowText(const tag_LANG_IF* language, const char* key);
