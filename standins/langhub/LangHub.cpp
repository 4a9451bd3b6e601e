// The language plug-in "langhub.dll": the texts of "Vemora.lan" by key, in
// the language the program chose, with English where a language has no text.
#include "Export.h"
#include "LanFile.h"
#include "LanRead.h"
#include "LanguageInterface.h"
#include "PyrraDebug.h"

#include <atomic>
#include <exception>
#include <mutex>
#include <shared_mutex>

namespace {

constexpr int kEnglish = 0;

// Written by LoadLanFile as a whole, read by GetString on any thread.
struct Texts {
    std::shared_mutex lock;
    LanTable table;
    std::atomic<int> language {kEnglish};
};

// Never destroyed: plug-in threads may still ask for texts while the process
// runs its static destructors.
Texts& TheTexts()
{
    static Texts* texts = new Texts;
    return *texts;
}

bool LoadLanFile(const char* path)
{
    if (!path) {
        PyrraDebug::DebugErr("langhub: LoadLanFile without a path\n");
        return false;
    }
    try {
        std::string data;
        std::string reason;
        LanTable table;
        if (!ReadLanFile(path, data, reason)
            || !ParseLanFile(data.data(), data.size(), table, reason)) {
            PyrraDebug::DebugErr(
                "langhub: %s refused, the texts stay as they were: %s\n", path, reason.c_str());
            return false;
        }
        Texts& texts = TheTexts();
        const std::unique_lock<std::shared_mutex> hold(texts.lock);
        texts.table.swap(table);
        return true;
    } catch (const std::exception& e) {
        PyrraDebug::DebugErr(
            "langhub: %s refused, the texts stay as they were: %s\n", path, e.what());
        return false;
    }
}

const std::string* Find(const LanTable& table, int language, const std::string& key)
{
    const auto texts = table.find(language);
    if (texts == table.end())
        return nullptr;
    const auto text = texts->second.find(key);
    return text == texts->second.end() ? nullptr : &text->second;
}

std::string GetString(std::string key)
{
    Texts& texts = TheTexts();
    const std::shared_lock<std::shared_mutex> hold(texts.lock);
    const std::string* text = Find(texts.table, texts.language.load(), key);
    if (!text)
        text = Find(texts.table, kEnglish, key);
    return text ? *text : std::string();
}

void SetLanguage(int index)
{
    TheTexts().language.store(index);
}

tag_LANG_IF g_interface = {LoadLanFile, GetString, nullptr, SetLanguage};

} // namespace

VEMORA_EXPORT tag_LANG_IF* GetInterface(void*)
{
    return &g_interface;
}
