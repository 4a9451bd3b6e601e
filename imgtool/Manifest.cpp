#include "Manifest.h"

#include "ImageFormat.h"

#include <algorithm>
#include <cctype>
#include <cerrno>
#include <cstdlib>
#include <dirent.h>
#include <fstream>
#include <sys/stat.h>

const char kFolderManifestName[] = "image.manifest";

namespace {

// Splits a line into blank-separated tokens. Double quotes anywhere in a
// token group blanks (name="boot partition"); inside them a backslash takes
// the next character as it is, except that "\n" stands for a line break;
// # outside quotes starts a comment.
bool Tokenize(const std::string& line, std::vector<std::string>& tokens, std::string& why)
{
    size_t i = 0;
    while (i < line.size()) {
        const char c = line[i];
        if (c == ' ' || c == '\t' || c == '\r') {
            ++i;
            continue;
        }
        if (c == '#')
            break;
        std::string token;
        bool quoted = false;
        for (; i < line.size(); ++i) {
            char d = line[i];
            if (!quoted && (d == ' ' || d == '\t' || d == '\r'))
                break;
            if (d == '"') {
                quoted = !quoted;
                continue;
            }
            if (quoted && d == '\\' && i + 1 < line.size()) {
                d = line[++i];
                if (d == 'n')
                    d = '\n';
            }
            token += d;
        }
        if (quoted) {
            why = "unterminated quote";
            return false;
        }
        tokens.push_back(token);
    }
    return true;
}

// Decimal, or hexadecimal after "0x"; a leading 0 does not mean octal.
bool ParseNumber(const std::string& text, uint64_t& value)
{
    const bool hex = text.size() > 2 && text[0] == '0' && (text[1] == 'x' || text[1] == 'X');
    const std::string digits = hex ? text.substr(2) : text;
    if (digits.empty() || !std::isxdigit(static_cast<unsigned char>(digits[0])))
        return false;
    errno = 0;
    char* end = nullptr;
    const unsigned long long v = std::strtoull(digits.c_str(), &end, hex ? 16 : 10);
    if (errno != 0 || *end != '\0')
        return false;
    value = v;
    return true;
}

std::string DirOf(const std::string& path)
{
    const size_t slash = path.rfind('/');
    return slash == std::string::npos ? "." : path.substr(0, slash == 0 ? 1 : slash);
}

std::string Join(const std::string& dir, const std::string& file)
{
    if (!file.empty() && file[0] == '/')
        return file;
    return dir == "/" ? "/" + file : dir + "/" + file;
}

bool ParseItem(
    const std::vector<std::string>& t, const std::string& dir, ManifestItem& item, std::string& why)
{
    if (t.size() < 4) {
        why = "item needs <main type> <subtype> <file>";
        return false;
    }
    if (!MakeType(t[1], imgfmt::kMainTypeLen, true, item.mainType, why)
        || !MakeType(t[2], imgfmt::kSubTypeLen, false, item.subType, why))
        return false;
    item.file = Join(dir, t[3]);
    const size_t slash = t[3].rfind('/');
    item.name = slash == std::string::npos ? t[3] : t[3].substr(slash + 1);
    for (size_t k = 4; k < t.size(); ++k) {
        const std::string& opt = t[k];
        uint64_t value = 0;
        if (opt == "encrypt") {
            item.encrypt = true;
            item.flags |= imgfmt::kFlagEncrypted;
        } else if (opt.rfind("target=", 0) == 0) {
            if (!ParseNumber(opt.substr(7), item.target)) {
                why = "bad number in " + opt;
                return false;
            }
        } else if (opt.rfind("flags=", 0) == 0) {
            if (!ParseNumber(opt.substr(6), value) || value > 0xFFFFFFFFu) {
                why = "bad number in " + opt;
                return false;
            }
            item.flags |= static_cast<uint32_t>(value);
        } else if (opt.rfind("name=", 0) == 0) {
            item.name = opt.substr(5);
        } else {
            why = "unknown item option \"" + opt + "\"";
            return false;
        }
    }
    if (item.name.size() > imgfmt::kNameLen) {
        why = "item name longer than " + std::to_string(imgfmt::kNameLen) + " bytes";
        return false;
    }
    return true;
}

bool ParseLine(
    const std::vector<std::string>& t, const std::string& dir, Manifest& m, std::string& why)
{
    const std::string& word = t[0];
    if ((word == "version" || word == "align") && t.size() != 2) {
        why = word + " takes one value";
        return false;
    }
    if (word == "version" && t.size() == 2) {
        if (t[1].size() > imgfmt::kVersionLen) {
            why = "version longer than " + std::to_string(imgfmt::kVersionLen) + " bytes";
            return false;
        }
        m.firmwareVersion = t[1];
        return true;
    }
    if (word == "align" && t.size() == 2) {
        uint64_t a = 0;
        if (!ParseNumber(t[1], a) || a < imgfmt::kMinAlignment || a > imgfmt::kMaxAlignment
            || (a & (a - 1)) != 0) {
            why = "alignment must be a power of two from 16 to 1048576";
            return false;
        }
        m.alignment = static_cast<uint32_t>(a);
        return true;
    }
    if (word == "item") {
        ManifestItem item;
        if (!ParseItem(t, dir, item, why))
            return false;
        m.items.push_back(item);
        return true;
    }
    why = "unknown statement \"" + word + "\" (version, align or item)";
    return false;
}

} // namespace

bool MakeType(
    const std::string& text, size_t width, bool isMain, std::string& out, std::string& why)
{
    const char* what = isMain ? "main type" : "subtype";
    if (text.empty() || text.size() > width) {
        why = std::string(what) + " \"" + text + "\" must have 1 to " + std::to_string(width)
            + " characters";
        return false;
    }
    for (const char c : text) {
        if (c < 0x21 || c > 0x7E || c == '/' || c == '"' || (isMain && c == '.')) {
            why = std::string(what) + " \"" + text
                + "\" may hold printable characters only, without blanks, '/', '\"'"
                + (isMain ? " or '.'" : "");
            return false;
        }
    }
    return imgfmt::PadField(text, width, out);
}

std::string QuoteToken(const std::string& text)
{
    if (!text.empty() && text.find_first_of(" \t\r\n\"\\#") == std::string::npos)
        return text;
    std::string out = "\"";
    for (const char c : text) {
        if (c == '"' || c == '\\')
            out += '\\';
        // A line break would end the statement: texts from an image could
        // add statements of their own to the manifest.
        out += c == '\n' ? std::string("\\n") : std::string(1, c);
    }
    return out + "\"";
}

bool ReadManifestFile(const std::string& path, Manifest& manifest, std::string& why)
{
    std::ifstream in(path);
    if (!in) {
        why = "cannot open manifest " + path;
        return false;
    }
    const std::string dir = DirOf(path);
    std::string line;
    for (int number = 1; std::getline(in, line); ++number) {
        std::vector<std::string> tokens;
        std::string reason;
        if (!Tokenize(line, tokens, reason)
            || (!tokens.empty() && !ParseLine(tokens, dir, manifest, reason))) {
            why = path + ":" + std::to_string(number) + ": " + reason;
            return false;
        }
    }
    if (in.bad()) {
        why = "cannot read manifest " + path;
        return false;
    }
    return true;
}

bool ReadFolder(const std::string& dir, Manifest& manifest, std::string& why)
{
    const std::string described = Join(dir, kFolderManifestName);
    struct stat st { };
    if (stat(described.c_str(), &st) == 0)
        return ReadManifestFile(described, manifest, why);

    DIR* d = opendir(dir.c_str());
    if (!d) {
        why = "cannot open folder " + dir;
        return false;
    }
    std::vector<std::string> names;
    while (const dirent* e = readdir(d)) {
        if (e->d_name[0] != '.')
            names.push_back(e->d_name);
    }
    closedir(d);
    std::sort(names.begin(), names.end());
    for (const std::string& name : names) {
        const std::string file = Join(dir, name);
        if (stat(file.c_str(), &st) != 0 || !S_ISREG(st.st_mode))
            continue;
        const size_t dot = name.find('.');
        ManifestItem item;
        why.clear();
        if (dot == std::string::npos
            || !MakeType(name.substr(0, dot), imgfmt::kMainTypeLen, true, item.mainType, why)
            || !MakeType(name.substr(dot + 1), imgfmt::kSubTypeLen, false, item.subType, why)) {
            why = file + ": file names in an image folder are <main type>.<subtype>"
                + (why.empty() ? "" : " (" + why + ")");
            return false;
        }
        item.file = file;
        item.name = name.size() <= imgfmt::kNameLen ? name : name.substr(0, imgfmt::kNameLen);
        manifest.items.push_back(item);
    }
    return true;
}
