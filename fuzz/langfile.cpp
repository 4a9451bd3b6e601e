// Fuzz target: the language file "Vemora.lan" as "langhub.dll" reads it,
// through its interface (LoadLanFile, SetLanguage, GetString).
//
// Input: the whole file. It is written to a scratch file and loaded; then the
// keys the program uses are looked up in the languages it may choose.
// Checked besides the sanitizers: a refused file changes no text (the texts
// loaded before stay), and every text handed out is well-formed UTF-8 without
// control characters other than the tab and the line break.
#include "FuzzSupport.h"

#include "LanguageInterface.h"

#include <cstdio>
#include <string>
#include <vector>

namespace {

// The keys of the window, and one no file defines.
std::vector<std::string> Keys()
{
    std::vector<std::string> keys = {"Info004", "Info005", "Info023", "Info024", "NoSuchKey"};
    char key[16];
    for (int i = 40; i <= 65; ++i) {
        std::snprintf(key, sizeof key, "Info%03d", i);
        keys.push_back(key);
    }
    return keys;
}

// Well-formed UTF-8 (no overlong forms, surrogates or values beyond
// U+10FFFF) without control characters but the tab and the line break.
bool CleanText(const std::string& text)
{
    for (size_t i = 0; i < text.size();) {
        const auto lead = static_cast<unsigned char>(text[i]);
        if (lead < 0x80) {
            if ((lead < 0x20 && lead != '\n' && lead != '\t') || lead == 0x7F)
                return false;
            ++i;
            continue;
        }
        const size_t length = lead >= 0xF0 ? 4 : lead >= 0xE0 ? 3 : 2;
        if (lead < 0xC2 || lead > 0xF4 || i + length > text.size())
            return false;
        unsigned long code = lead & (0x7F >> length);
        for (size_t k = 1; k < length; ++k) {
            const auto next = static_cast<unsigned char>(text[i + k]);
            if ((next & 0xC0) != 0x80)
                return false;
            code = code << 6 | (next & 0x3F);
        }
        const unsigned long least = length == 2 ? 0x80 : length == 3 ? 0x800 : 0x10000;
        if (code < least || code > 0x10FFFF || (code >= 0xD800 && code <= 0xDFFF))
            return false;
        i += length;
    }
    return true;
}

// Every text of every language the program may choose, and of English.
std::vector<std::string> AllTexts(tag_LANG_IF* lang, const std::vector<std::string>& keys)
{
    static const int languages[] = {1, 2, 3, 8, 11, 12, 13, 21, 255, 0};
    std::vector<std::string> texts;
    for (const int language : languages) {
        lang->SetLanguage(language);
        for (const std::string& key : keys)
            texts.push_back(lang->GetString(key));
    }
    return texts;
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size)
{
    static tag_LANG_IF* const lang = fuzz::Resolve<tag_LANG_IF* (*)(void*)>(
        fuzz::OpenLibrary(LANGHUB_DLL), "GetInterface")(nullptr);
    static const std::vector<std::string> keys = Keys();
    static const std::string path = fuzz::ScratchDir() + "/Vemora.lan";

    const std::vector<std::string> before = AllTexts(lang, keys);
    fuzz::WriteFile(path, data, size);
    const bool loaded = lang->LoadLanFile(path.c_str());
    const std::vector<std::string> after = AllTexts(lang, keys);
    FUZZ_CHECK(loaded || after == before);
    for (const std::string& text : after)
        FUZZ_CHECK(CleanText(text));
    return 0;
}
