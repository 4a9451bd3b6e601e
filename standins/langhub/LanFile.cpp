#include "LanFile.h"

#include "Utf8.h"

#include <algorithm>
#include <string_view>

namespace {

constexpr std::string_view kBom = "\xEF\xBB\xBF";
constexpr std::string_view kSignature = "VEMORA-LAN 1";
constexpr std::string_view kSignatureName = "VEMORA-LAN";
constexpr std::string_view kEnd = "END";
constexpr int kMaxIndex = 255;
constexpr size_t kMaxKeyLength = 32;

std::string_view Trim(std::string_view s)
{
    const auto blank = [](char c) { return c == ' ' || c == '\t'; };
    while (!s.empty() && blank(s.front()))
        s.remove_prefix(1);
    while (!s.empty() && blank(s.back()))
        s.remove_suffix(1);
    return s;
}

bool KeyChar(char c)
{
    return (c >= 'A' && c <= 'Z') || (c >= 'a' && c <= 'z') || (c >= '0' && c <= '9') || c == '_';
}

class Parser {
public:
    bool Run(std::string_view rest)
    {
        if (rest.substr(0, kBom.size()) == kBom)
            rest.remove_prefix(kBom.size());
        while (!rest.empty()) {
            const size_t end = rest.find('\n');
            std::string_view line = rest.substr(0, end);
            rest = end == std::string_view::npos ? std::string_view() : rest.substr(end + 1);
            ++m_line;
            if (!line.empty() && line.back() == '\r')
                line.remove_suffix(1);
            if (!Line(line))
                return false;
        }
        if (!m_signed)
            return Fail(std::string("the file is empty: it has no \"") + std::string(kSignature)
                + "\" line");
        if (!m_ended)
            return Fail("the file is cut short: its END line is missing");
        if (m_table.find(0) == m_table.end())
            return Fail("there are no English texts (language 0)");
        return true;
    }

    LanTable& Table() { return m_table; }
    const std::string& Reason() const { return m_reason; }

private:
    bool Fail(const std::string& what)
    {
        m_reason = what;
        return false;
    }
    bool FailHere(const std::string& what)
    {
        return Fail("line " + std::to_string(m_line) + ": " + what);
    }

    bool Line(std::string_view line)
    {
        const auto control = std::find_if(line.begin(), line.end(), [](char c) {
            return (static_cast<unsigned char>(c) < 0x20 && c != '\t') || c == 0x7F;
        });
        if (control != line.end())
            return FailHere("control character "
                + std::to_string(static_cast<unsigned char>(*control)) + " in the text");
        const std::string_view text = Trim(line);
        if (m_ended) {
            if (!text.empty())
                return FailHere("text after the END line");
            return true;
        }
        if (text.empty() || text.front() == '#')
            return true;
        if (!m_signed) {
            if (text == kSignature) {
                m_signed = true;
                return true;
            }
            if (text.substr(0, kSignatureName.size() + 1) == std::string(kSignatureName) + " ")
                return FailHere("this is version "
                    + std::string(text.substr(kSignatureName.size() + 1))
                    + " of the format; only \"" + std::string(kSignature) + "\" is understood");
            return FailHere("the file does not begin with \"" + std::string(kSignature)
                + "\": not a language file");
        }
        if (text == kEnd) {
            m_ended = true;
            return true;
        }
        if (text.front() == '[')
            return Header(text);
        return Entry(text);
    }

    // "[<index> <name>]"
    bool Header(std::string_view text)
    {
        if (text.back() != ']')
            return FailHere("a language header ends with ']'");
        std::string_view inner = Trim(text.substr(1, text.size() - 2));
        size_t digits = 0;
        int index = 0;
        while (digits < inner.size() && inner[digits] >= '0' && inner[digits] <= '9'
            && index <= kMaxIndex)
            index = index * 10 + (inner[digits++] - '0');
        if (digits == 0 || index > kMaxIndex)
            return FailHere(
                "a language header starts with its index, 0 to " + std::to_string(kMaxIndex));
        const std::string_view name = Trim(inner.substr(digits));
        if (name.empty() || name.size() == inner.size() - digits)
            return FailHere("language " + std::to_string(index) + " has no name after its index");
        const auto seen = m_headerLines.find(index);
        if (seen != m_headerLines.end())
            return FailHere("language " + std::to_string(index) + " appears twice (first on line "
                + std::to_string(seen->second) + ")");
        m_headerLines[index] = m_line;
        m_index = index;
        m_texts = &m_table[index];
        m_keyLines.clear();
        return true;
    }

    // "<key> = <text>"
    bool Entry(std::string_view text)
    {
        size_t keyLength = 0;
        while (keyLength < text.size() && KeyChar(text[keyLength]))
            ++keyLength;
        const std::string_view key = text.substr(0, keyLength);
        const std::string_view rest = Trim(text.substr(keyLength));
        if (key.empty() || rest.empty() || rest.front() != '=')
            return FailHere("expected \"key = text\", a language header \"[index name]\" or END");
        if (key.size() > kMaxKeyLength)
            return FailHere("key longer than " + std::to_string(kMaxKeyLength) + " characters");
        if (!m_texts)
            return FailHere("key " + std::string(key) + " comes before the first language header");
        const auto seen = m_keyLines.find(key);
        if (seen != m_keyLines.end())
            return FailHere("key " + std::string(key) + " appears twice in language "
                + std::to_string(m_index) + " (first on line " + std::to_string(seen->second)
                + ")");
        std::string value;
        if (!Unescape(Trim(rest.substr(1)), value))
            return false;
        m_keyLines.emplace(key, m_line);
        m_texts->emplace(key, std::move(value));
        return true;
    }

    // "\n" is a line break and "\\" a backslash; nothing else is escaped.
    bool Unescape(std::string_view text, std::string& out)
    {
        for (size_t i = 0; i < text.size(); ++i) {
            if (text[i] != '\\') {
                out += text[i];
                continue;
            }
            const char next = i + 1 < text.size() ? text[i + 1] : '\0';
            if (next == 'n')
                out += '\n';
            else if (next == '\\')
                out += '\\';
            else
                return FailHere("unknown escape after a backslash (only \\n and \\\\ are known)");
            ++i;
        }
        return true;
    }

    LanTable m_table;
    std::map<int, int> m_headerLines;
    std::map<std::string, int, std::less<>> m_keyLines;
    LanTexts* m_texts = nullptr;
    int m_index = -1;
    int m_line = 0;
    bool m_signed = false;
    bool m_ended = false;
    std::string m_reason;
};

int LineOf(const char* data, size_t offset)
{
    return 1 + static_cast<int>(std::count(data, data + offset, '\n'));
}

} // namespace

bool ParseLanFile(const char* data, size_t size, LanTable& table, std::string& reason)
{
    const size_t bad = FindInvalidUtf8(data, size);
    if (bad != size) {
        reason = "line " + std::to_string(LineOf(data, bad)) + ": not UTF-8 (at byte offset "
            + std::to_string(bad) + ")";
        return false;
    }
    Parser parser;
    if (!parser.Run(std::string_view(data, size))) {
        reason = parser.Reason();
        return false;
    }
    table.swap(parser.Table());
    return true;
}
