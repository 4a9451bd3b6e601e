// The system's heap string of single-byte characters: one NUL-terminated
// buffer allocated with new[]. A default-constructed string holds no buffer
// and behaves as the empty text everywhere.
#pragma once

#include <cstdarg>

class CBCString {
public:
    CBCString();
    CBCString(const CBCString& other);
    CBCString(const char* text);
    // The first n characters of text (fewer when text ends earlier).
    CBCString(const char* text, int n);
    ~CBCString();

    int GetLength() const;
    bool IsEmpty() const;
    // Zero-fills the text, keeping the buffer.
    void Empty();

    // Character at i; 0 for a position outside the text.
    char GetAt(int i) const;
    char operator[](int i) const;
    // Stores c at i when 0 <= i < length; other positions are ignored.
    void SetAt(int i, char c);

    // The text; "" when there is no buffer.
    operator const char*() const;

    CBCString& operator=(const CBCString& other);
    CBCString& operator=(const char* text);
    CBCString& operator=(char c);
    CBCString& operator+=(const CBCString& other);
    CBCString& operator+=(const char* text);
    CBCString& operator+=(char c);

    // strcmp(s, text): positive when s sorts after this string.
    int Compare(const char* s) const;
    int CompareNoCase(const char* s) const;

    // Positions and counts are clamped to the text.
    CBCString Mid(int first, int count) const;
    CBCString Mid(int first) const;
    CBCString Left(int count) const;
    CBCString Right(int count) const;

    void MakeUpper();
    void MakeLower();
    void MakeReverse();

    // Trailing ' ' only; tabs and other white space stay.
    void TrimRight();
    void TrimRight(char c);
    // Cuts the trailing run of characters that all occur in set.
    void TrimRight(const char* set);
    void TrimLeft();
    void TrimLeft(char c);

    // In place; returns the number of characters replaced.
    int Replace(char oldChar, char newChar);
    // Every non-overlapping occurrence, left to right; an empty oldText
    // changes nothing. Returns the number of replacements.
    int Replace(const char* oldText, const char* newText);
    // Removes every c in place; returns how many were removed.
    int Remove(char c);
    // Insert before position i (clamped); return the new length.
    int Insert(int i, char c);
    int Insert(int i, const char* text);
    // Removes count characters from i (clamped); returns 0.
    int Delete(int i, int count);

    // Index of the first match at or after start, -1 when there is none or
    // start is not inside the text.
    int Find(char c) const;
    int Find(char c, int start) const;
    int Find(const char* s) const;
    int Find(const char* s, int start) const;
    int ReverseFind(char c) const;

    // printf-style without length modifiers (conversions c C s d i o u x X p
    // e f g G n). A negative width or precision or an unknown conversion is a
    // programming error and aborts. Returns the new length, or -1 (text
    // emptied, logged) when the result cannot be produced.
    int Format(const char* format, ...) __attribute__((format(printf, 2, 3)));
    int FormatV(const char* format, va_list args);

    // The buffer, grown when needed so that minLength characters and the
    // terminator fit. Write at most max(minLength, GetLength()) characters.
    // Null (logged, text kept) when that size cannot be held in an int.
    char* GetBuffer(int minLength);

private:
    // Replaces the buffer by a new one of size bytes holding text[0..n) and
    // a terminator (rest zero). text may point into the old buffer.
    void Assign(const char* text, int n, int size);

    char* m_pchData;
};
