#include "windowtexts.h"

#include "LanguageInterface.h"

#include <cstring>

namespace {

struct BuiltInText {
    const char* key;
    const char* text;
};

// The English texts of Vemora.lan, so that no box or line is ever empty.
constexpr BuiltInText kBuiltIn[] = {
    {"Info004", "No image chosen yet: click Image and choose a firmware image (.img)."},
    {"Info005",
        "The device did not start flashing within two minutes. Unplug it, put it back into USB "
        "boot mode and connect it again."},
    {"Info023",
        "Vemora cannot use this file: it is not a firmware image Vemora can read, or it is "
        "damaged. Please choose another image."},
    {"Info024", "Please choose a firmware image first."},
    {"Info040", "Exit"},
    {"Info041", "Image"},
    {"Info042", "Progress"},
    {"Info060", "Question"},
    {"Info061", "The firmware asks whether to go on with the next step. Do you want to go on?"},
    {"Info062", "Flashing finished. You can unplug the device now."},
    {"Info063", "Flashing failed"},
    {"Info064", "Finished: %1   Failed: %2"},
    {"Info065", "Elapsed: %1   Speed: %2"},
};

} // namespace

QString WindowText(const tag_LANG_IF* language, const char* key)
{
    if (language) {
        const std::string text = language->GetString(key);
        if (!text.empty())
            return QString::fromStdString(text);
    }
    for (const BuiltInText& builtIn : kBuiltIn) {
        if (std::strcmp(builtIn.key, key) == 0)
            return QString::fromUtf8(builtIn.text);
    }
    return QString();
}
