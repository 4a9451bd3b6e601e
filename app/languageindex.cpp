#include "languageindex.h"

#include <algorithm>
#include <cstdlib>
#include <cstring>
#include <strings.h>

namespace {

constexpr int kPrefixLength = 4;

struct LanguageLocales {
    int index;
    const char* locales[6]; // null-terminated
};

// Searched in this order; the first match wins. Index 8 serves "ja_jp" and
// "hu_hu" alike; indices 6 and 14 are never chosen.
constexpr LanguageLocales kLanguages[] = {
    {0, {"en_US", "en_hk", "en_GB", "en_CA", "en_AU", nullptr}},
    {1, {"zh_CN", nullptr}},
    {2, {"zh_TW", "zh_HK", nullptr}},
    {3, {"fi_fi", nullptr}},
    {4, {"da_dk", nullptr}},
    {5, {"he_il", nullptr}},
    {7, {"ko_kr", nullptr}},
    {8, {"ja_jp", nullptr}},
    {21, {"ru_ru", nullptr}},
    {9, {"nl_nl", "nl_be", nullptr}},
    {10, {"pt_pt", "pt_br", nullptr}},
    {11, {"fr_fr", "fr_lu", "fr_ch", "fr_be", "fr_ca", nullptr}},
    {12, {"es_es", "es_us", "es_mx", "es_co", "es_ar", nullptr}},
    {13, {"de_de", "de_at", "de_ch", nullptr}},
    {17, {"no_no", nullptr}},
    {8, {"hu_hu", nullptr}},
    {15, {"tr_tr", nullptr}},
    {16, {"cs_cz", nullptr}},
    {18, {"sl_sl", nullptr}},
    {19, {"pl_pl", nullptr}},
    {20, {"sv_se", nullptr}},
};

constexpr int kEnglish = 0;

} // namespace

int LocalePrefixCompare(const char* a, const char* b, int n)
{
    const size_t length
        = std::min({std::strlen(a), std::strlen(b), static_cast<size_t>(std::max(n, 0))});
    return strncasecmp(a, b, length);
}

int SelectLanguageIndex()
{
    const char* lang = std::getenv("LANG");
    if (!lang)
        return kEnglish;
    for (const LanguageLocales& language : kLanguages) {
        for (const char* const* locale = language.locales; *locale; ++locale) {
            if (LocalePrefixCompare(lang, *locale, kPrefixLength) == 0)
                return language.index;
        }
    }
    return kEnglish;
}
