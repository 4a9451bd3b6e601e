#include "BCString.h"

#include "ModulePath.h"
#include "PyrraDebug.h"

#include <algorithm>
#include <cctype>
#include <climits>
#include <cstdio>
#include <cstring>
#include <new>

// The format checks stay on in release builds: the sizing pass reads the
// arguments by the format, and a bad format would make it read garbage.
#undef NDEBUG
#include <cassert>

namespace {

const char kEmpty[] = "";

int Clamp(int value, int low, int high)
{
    return std::min(std::max(value, low), high);
}

[[noreturn]] void FormatCheckFailed(const char* expression, unsigned int line)
{
    __assert_fail(expression, "include/BCString", line,
        "void CBCString::FormatV(const char*, __va_list_tag*)");
}

// Decimal digits at p (saturating at INT_MAX); p is moved past them.
int ReadNumber(const char*& p)
{
    long long value = 0;
    for (; *p >= '0' && *p <= '9'; ++p)
        value = std::min<long long>(value * 10 + (*p - '0'), INT_MAX);
    return static_cast<int>(value);
}

// Upper bound of the length the format produces, taken in one pass over the
// format; consumes the arguments in args. Above INT_MAX when the text could
// not be produced at all.
long long FormatBound(const char* format, va_list args)
{
    const long long formatLength = static_cast<long long>(std::strlen(format));
    long long sum = 0;
    const char* p = format;
    while (*p) {
        if (*p != '%' || p[1] == '%') {
            // Plain text: the rest of the format is a generous bound.
            sum += formatLength - (p - format);
            p += *p == '%' ? 2 : 1;
            continue;
        }
        ++p;
        for (;; ++p) {
            if (*p == '#')
                sum += 2; // "0x" prefix
            else if (*p != '-' && *p != '+' && *p != '0' && *p != ' ')
                break;
        }

        int nWidth = 0;
        if (*p == '*') {
            nWidth = va_arg(args, int);
            ++p;
        } else {
            nWidth = ReadNumber(p);
        }
        if (!(nWidth >= 0))
            FormatCheckFailed("nWidth >= 0", __LINE__);

        int nPrecision = 0;
        bool hasPrecision = false;
        if (*p == '.') {
            hasPrecision = true;
            ++p;
            if (*p == '*') {
                nPrecision = va_arg(args, int);
                ++p;
            } else {
                nPrecision = ReadNumber(p);
            }
            if (!(nPrecision >= 0))
                FormatCheckFailed("nPrecision >= 0", __LINE__);
        }

        const long long widthAndPrecision = static_cast<long long>(nWidth) + nPrecision;
        long long item = 0;
        switch (*p) {
        case 'c':
        case 'C':
        case 's':
            if (*p == 's') {
                // With a precision the text need not be terminated: as printf
                // does, read no further than the precision.
                const char* text = va_arg(args, const char*);
                const size_t length = !text ? 6 // "(null)"
                    : hasPrecision          ? strnlen(text, static_cast<size_t>(nPrecision))
                                            : std::strlen(text);
                item = std::max<long long>(static_cast<long long>(length), 1);
            } else {
                (void)va_arg(args, int);
                item = 2;
            }
            if (hasPrecision)
                item = std::min<long long>(item, nPrecision);
            item = std::max<long long>(item, nWidth);
            break;
        case 'd':
        case 'i':
        case 'o':
        case 'u':
        case 'x':
        case 'X':
            (void)va_arg(args, int);
            item = std::max<long long>(widthAndPrecision, 32);
            break;
        case 'p':
            (void)va_arg(args, void*);
            item = std::max<long long>(widthAndPrecision, 32);
            break;
        case 'e':
        case 'g':
        case 'G':
            (void)va_arg(args, double);
            item = std::max<long long>(widthAndPrecision, 128);
            break;
        case 'f': {
            // Fixed notation of a large double runs to 309 digits: measure it.
            const double value = va_arg(args, double);
            const int printed = std::snprintf(nullptr, 0, "%*.*f", nWidth,
                static_cast<int>(std::min<long long>(nPrecision + 6LL, INT_MAX)), value);
            item = printed < 0 ? INT_MAX + 1LL : printed;
            break;
        }
        case 'n':
            (void)va_arg(args, int*);
            break;
        default:
            FormatCheckFailed("0", __LINE__);
        }
        ++p;
        sum = std::min(sum + item, INT_MAX + 1LL);
    }
    return sum;
}

} // namespace

CBCString::CBCString()
    : m_pchData(nullptr)
{
}

CBCString::CBCString(const CBCString& other)
    : m_pchData(nullptr)
{
    *this = other;
}

CBCString::CBCString(const char* text)
    : m_pchData(nullptr)
{
    *this = text;
}

CBCString::CBCString(const char* text, int n)
    : m_pchData(nullptr)
{
    const int length = text ? static_cast<int>(strnlen(text, std::max(n, 0))) : 0;
    Assign(text, length, length + 1);
}

CBCString::~CBCString()
{
    delete[] m_pchData;
}

void CBCString::Assign(const char* text, int n, int size)
{
    char* buffer = new char[size]();
    if (n > 0)
        std::memcpy(buffer, text, n);
    delete[] m_pchData;
    m_pchData = buffer;
}

int CBCString::GetLength() const
{
    return m_pchData ? TextLength(m_pchData) : 0;
}

bool CBCString::IsEmpty() const
{
    return GetLength() == 0;
}

void CBCString::Empty()
{
    if (m_pchData)
        ZeroBuffer(m_pchData, GetLength());
}

char CBCString::GetAt(int i) const
{
    return i >= 0 && i < GetLength() ? m_pchData[i] : 0;
}

char CBCString::operator[](int i) const
{
    return GetAt(i);
}

void CBCString::SetAt(int i, char c)
{
    if (i >= 0 && i < GetLength())
        m_pchData[i] = c;
}

CBCString::operator const char*() const
{
    return m_pchData ? m_pchData : kEmpty;
}

CBCString& CBCString::operator=(const CBCString& other)
{
    if (this != &other)
        *this = static_cast<const char*>(other);
    return *this;
}

CBCString& CBCString::operator=(const char* text)
{
    const int length = text ? TextLength(text) : 0;
    Assign(text, length, length + 1);
    return *this;
}

CBCString& CBCString::operator=(char c)
{
    Assign(&c, 1, 2);
    return *this;
}

CBCString& CBCString::operator+=(const CBCString& other)
{
    return *this += static_cast<const char*>(other);
}

CBCString& CBCString::operator+=(const char* text)
{
    // Insert copies before freeing, so text may be this string's own buffer.
    Insert(GetLength(), text);
    return *this;
}

CBCString& CBCString::operator+=(char c)
{
    const char text[2] = {c, 0};
    return *this += text;
}

int CBCString::Compare(const char* s) const
{
    return std::strcmp(s ? s : kEmpty, *this);
}

int CBCString::CompareNoCase(const char* s) const
{
    const unsigned char* a = reinterpret_cast<const unsigned char*>(s ? s : kEmpty);
    const unsigned char* b
        = reinterpret_cast<const unsigned char*>(static_cast<const char*>(*this));
    for (;; ++a, ++b) {
        const int diff = std::tolower(*a) - std::tolower(*b);
        if (diff != 0 || *a == 0)
            return diff;
    }
}

CBCString CBCString::Mid(int first, int count) const
{
    const int length = GetLength();
    first = Clamp(first, 0, length);
    count = Clamp(count, 0, length - first);
    return CBCString(static_cast<const char*>(*this) + first, count);
}

CBCString CBCString::Mid(int first) const
{
    return Mid(first, GetLength());
}

CBCString CBCString::Left(int count) const
{
    return Mid(0, count);
}

CBCString CBCString::Right(int count) const
{
    const int length = GetLength();
    count = Clamp(count, 0, length);
    return Mid(length - count, count);
}

void CBCString::MakeUpper()
{
    const int length = GetLength();
    char* buffer = new char[length + 1]();
    for (int i = 0; i < length; ++i)
        buffer[i] = static_cast<char>(std::toupper(static_cast<unsigned char>(m_pchData[i])));
    delete[] m_pchData;
    m_pchData = buffer;
}

void CBCString::MakeLower()
{
    const int length = GetLength();
    char* buffer = new char[length + 1]();
    for (int i = 0; i < length; ++i)
        buffer[i] = static_cast<char>(std::tolower(static_cast<unsigned char>(m_pchData[i])));
    delete[] m_pchData;
    m_pchData = buffer;
}

void CBCString::MakeReverse()
{
    if (m_pchData)
        std::reverse(m_pchData, m_pchData + GetLength());
}

void CBCString::TrimRight()
{
    TrimRight(' ');
}

void CBCString::TrimRight(char c)
{
    const char set[2] = {c, 0};
    TrimRight(set);
}

void CBCString::TrimRight(const char* set)
{
    if (!m_pchData || !set || !*set)
        return;
    int end = GetLength();
    while (end > 0 && std::strchr(set, m_pchData[end - 1]))
        --end;
    m_pchData[end] = 0;
}

void CBCString::TrimLeft()
{
    TrimLeft(' ');
}

void CBCString::TrimLeft(char c)
{
    const int length = GetLength();
    int first = 0;
    while (first < length && m_pchData[first] == c)
        ++first;
    if (m_pchData)
        Assign(m_pchData + first, length - first, length - first + 1);
}

int CBCString::Replace(char oldChar, char newChar)
{
    const int length = GetLength();
    int count = 0;
    for (int i = 0; i < length; ++i) {
        if (m_pchData[i] == oldChar) {
            m_pchData[i] = newChar;
            ++count;
        }
    }
    return count;
}

int CBCString::Replace(const char* oldText, const char* newText)
{
    if (!m_pchData || !oldText || !*oldText)
        return 0;
    if (!newText)
        newText = kEmpty;
    const int oldLength = TextLength(oldText);
    const int newLength = TextLength(newText);

    int count = 0;
    for (const char* hit = std::strstr(m_pchData, oldText); hit;
         hit = std::strstr(hit + oldLength, oldText))
        ++count;
    if (count == 0)
        return 0;

    const int length = GetLength() + count * (newLength - oldLength);
    char* buffer = new char[length + 1]();
    char* out = buffer;
    const char* in = m_pchData;
    for (const char* hit = std::strstr(in, oldText); hit; hit = std::strstr(in, oldText)) {
        std::memcpy(out, in, hit - in);
        out += hit - in;
        std::memcpy(out, newText, newLength);
        out += newLength;
        in = hit + oldLength;
    }
    std::strcpy(out, in);
    delete[] m_pchData;
    m_pchData = buffer;
    return count;
}

int CBCString::Remove(char c)
{
    const int length = GetLength();
    int kept = 0;
    for (int i = 0; i < length; ++i) {
        if (m_pchData[i] != c)
            m_pchData[kept++] = m_pchData[i];
    }
    if (m_pchData)
        std::memset(m_pchData + kept, 0, length - kept);
    return length - kept;
}

int CBCString::Insert(int i, char c)
{
    const char text[2] = {c, 0};
    return Insert(i, text);
}

int CBCString::Insert(int i, const char* text)
{
    const int length = GetLength();
    const int textLength = text ? TextLength(text) : 0;
    i = Clamp(i, 0, length);
    char* buffer = new char[length + textLength + 1]();
    if (m_pchData) {
        std::memcpy(buffer, m_pchData, i);
        std::memcpy(buffer + i + textLength, m_pchData + i, length - i);
    }
    if (textLength > 0)
        std::memcpy(buffer + i, text, textLength);
    delete[] m_pchData;
    m_pchData = buffer;
    return length + textLength;
}

int CBCString::Delete(int i, int count)
{
    const int length = GetLength();
    i = Clamp(i, 0, length);
    count = Clamp(count, 0, length - i);
    if (count > 0)
        std::memmove(m_pchData + i, m_pchData + i + count, length - i - count + 1);
    return 0;
}

int CBCString::Find(char c) const
{
    return Find(c, 0);
}

int CBCString::Find(char c, int start) const
{
    const int length = GetLength();
    start = std::max(start, 0);
    if (start >= length)
        return -1;
    const void* hit = std::memchr(m_pchData + start, c, length - start);
    return hit ? static_cast<int>(static_cast<const char*>(hit) - m_pchData) : -1;
}

int CBCString::Find(const char* s) const
{
    return Find(s, 0);
}

int CBCString::Find(const char* s, int start) const
{
    start = std::max(start, 0);
    if (!s || start >= GetLength())
        return -1;
    const char* hit = std::strstr(m_pchData + start, s);
    return hit ? static_cast<int>(hit - m_pchData) : -1;
}

int CBCString::ReverseFind(char c) const
{
    for (int i = GetLength() - 1; i >= 0; --i) {
        if (m_pchData[i] == c)
            return i;
    }
    return -1;
}

int CBCString::Format(const char* format, ...)
{
    va_list args;
    va_start(args, format);
    const int length = FormatV(format, args);
    va_end(args);
    return length;
}

int CBCString::FormatV(const char* format, va_list args)
{
    if (!format)
        format = kEmpty;
    va_list sizing;
    va_copy(sizing, args);
    const long long bound = FormatBound(format, sizing);
    va_end(sizing);

    // The old text stays alive until the new one is made: an argument may
    // point into it. The bound is checked, not trusted: a wider result
    // (long %e, signed %d with a precision) gets a second, exact attempt.
    int printed = -1;
    char* buffer = nullptr;
    for (long long size = bound + 1; size <= INT_MAX;) {
        buffer = new (std::nothrow) char[size];
        if (!buffer)
            break;
        va_list attempt;
        va_copy(attempt, args);
        printed = std::vsnprintf(buffer, size, format, attempt);
        va_end(attempt);
        if (printed >= 0 && printed < size)
            break;
        delete[] buffer;
        buffer = nullptr;
        if (printed < 0)
            break;
        size = printed + 1LL;
    }
    if (!buffer) {
        PyrraDebug::DebugErr("CBCString::FormatV: cannot format \"%s\"\n", format);
        Assign(kEmpty, 0, 1);
        return -1;
    }
    delete[] m_pchData;
    m_pchData = buffer;
    return printed;
}

char* CBCString::GetBuffer(int minLength)
{
    const int length = GetLength();
    if (m_pchData && minLength <= length)
        return m_pchData;
    // The size counts the terminator too, and must still be an int.
    if (minLength == INT_MAX) {
        PyrraDebug::DebugErr("CBCString::GetBuffer: %d characters cannot be held\n", minLength);
        return nullptr;
    }
    Assign(m_pchData, length, std::max(minLength, length) + 1);
    return m_pchData;
}
