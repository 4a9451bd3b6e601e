#include "BCString.h"

#include "CaptureOutput.h"

#include <climits>
#include <cstdarg>
#include <cstdio>
#include <cstring>
#include <gtest/gtest.h>
#include <string>
#include <sys/mman.h>
#include <unistd.h>

namespace {

std::string Text(const CBCString& s)
{
    return static_cast<const char*>(s);
}

// What printf makes of the same format, to compare FormatV against.
std::string Printf(const char* format, ...)
{
    va_list args;
    va_start(args, format);
    char probe[1];
    va_list sizing;
    va_copy(sizing, args);
    const int n = std::vsnprintf(probe, sizeof probe, format, sizing);
    va_end(sizing);
    std::string text(n, '\0');
    std::vsnprintf(text.data(), n + 1, format, args);
    va_end(args);
    return text;
}

// Format without the compiler's format check, which would refuse some of
// the formats tested here.
int FormatUnchecked(CBCString& s, const char* format, ...)
{
    va_list args;
    va_start(args, format);
    const int n = s.FormatV(format, args);
    va_end(args);
    return n;
}

// The text FormatV makes; its result must be the length.
std::string Formatted(const char* format, ...)
{
    CBCString s("previous");
    va_list args;
    va_start(args, format);
    const int n = s.FormatV(format, args);
    va_end(args);
    EXPECT_EQ(n, s.GetLength());
    return Text(s);
}

TEST(BCString, DefaultStringIsEmptyTextEverywhere)
{
    CBCString s;
    EXPECT_EQ(s.GetLength(), 0);
    EXPECT_TRUE(s.IsEmpty());
    EXPECT_STREQ(s, "");
    EXPECT_EQ(s.GetAt(0), 0);
    EXPECT_EQ(s.Find('a'), -1);
    EXPECT_EQ(s.Find(""), -1);
    EXPECT_EQ(s.ReverseFind('a'), -1);
    EXPECT_EQ(s.Replace("a", "b"), 0);
    EXPECT_EQ(s.Compare(""), 0);
    s.TrimLeft();
    s.TrimRight();
    s.MakeUpper();
    s.MakeReverse();
    s.Empty();
    EXPECT_EQ(Text(s.Mid(0, 5)), "");
    EXPECT_EQ(Text(s.Right(3)), "");
    s += 'x';
    EXPECT_EQ(Text(s), "x");
}

TEST(BCString, ConstructionAndCopiesAreDeep)
{
    CBCString a("hello");
    CBCString b(a);
    b.SetAt(0, 'J');
    EXPECT_EQ(Text(a), "hello");
    EXPECT_EQ(Text(b), "Jello");
    EXPECT_EQ(Text(CBCString("hello", 3)), "hel");
    EXPECT_EQ(Text(CBCString("hi", 10)), "hi");
    EXPECT_EQ(Text(CBCString(static_cast<const char*>(nullptr))), "");

    CBCString c;
    c = a;
    a = "other";
    EXPECT_EQ(Text(c), "hello");
    c = c;
    EXPECT_EQ(Text(c), "hello");
    // Assigning a tail of its own text.
    c = static_cast<const char*>(c) + 2;
    EXPECT_EQ(Text(c), "llo");
    c = 'z';
    EXPECT_EQ(Text(c), "z");
    EXPECT_EQ(c.GetLength(), 1);
}

TEST(BCString, EmptyKeepsTheBufferAndClearsTheText)
{
    CBCString s("abc");
    const char* before = s;
    s.Empty();
    EXPECT_TRUE(s.IsEmpty());
    EXPECT_EQ(static_cast<const char*>(s), before);
}

TEST(BCString, AtAndSetAtStayInsideTheText)
{
    CBCString s("abc");
    EXPECT_EQ(s.GetAt(1), 'b');
    EXPECT_EQ(s[2], 'c');
    EXPECT_EQ(s.GetAt(3), 0);
    EXPECT_EQ(s.GetAt(-1), 0);
    EXPECT_EQ(s.GetAt(100), 0);
    s.SetAt(1, 'X');
    s.SetAt(3, 'Y');
    s.SetAt(-1, 'Y');
    EXPECT_EQ(Text(s), "aXc");
}

TEST(BCString, Append)
{
    CBCString s("ab");
    s += CBCString("cd");
    s += "ef";
    s += 'g';
    EXPECT_EQ(Text(s), "abcdefg");
    s += s;
    EXPECT_EQ(Text(s), "abcdefgabcdefg");
    s += static_cast<const char*>(nullptr);
    EXPECT_EQ(s.GetLength(), 14);
}

TEST(BCString, CompareTakesTheArgumentFirst)
{
    CBCString a("a");
    EXPECT_GT(a.Compare("b"), 0);
    EXPECT_LT(CBCString("b").Compare("a"), 0);
    EXPECT_EQ(a.Compare("a"), 0);
    EXPECT_LT(CBCString("Abc").Compare("ABC"), 0);
    EXPECT_EQ(CBCString("Abc").CompareNoCase("aBC"), 0);
    EXPECT_GT(CBCString("abc").CompareNoCase("ABD"), 0);
    EXPECT_LT(CBCString("abc").CompareNoCase("AB"), 0);
}

TEST(BCString, MidLeftRightAndTheirBounds)
{
    CBCString s("hello world");
    EXPECT_EQ(Text(s.Mid(6, 3)), "wor");
    EXPECT_EQ(Text(s.Mid(6)), "world");
    EXPECT_EQ(Text(s.Left(5)), "hello");
    EXPECT_EQ(Text(s.Right(5)), "world");
    EXPECT_EQ(Text(s.Mid(0, 0)), "");
    // Out-of-range arguments are cut to the text instead of reading past it.
    EXPECT_EQ(Text(s.Mid(6, 100)), "world");
    EXPECT_EQ(Text(s.Mid(50, 2)), "");
    EXPECT_EQ(Text(s.Mid(-3, 2)), "he");
    EXPECT_EQ(Text(s.Left(100)), "hello world");
    EXPECT_EQ(Text(s.Right(100)), "hello world");
    EXPECT_EQ(Text(s.Left(-1)), "");
}

TEST(BCString, CaseAndReverse)
{
    CBCString s("MiXed 12!");
    s.MakeUpper();
    EXPECT_EQ(Text(s), "MIXED 12!");
    s.MakeLower();
    EXPECT_EQ(Text(s), "mixed 12!");
    s.MakeReverse();
    EXPECT_EQ(Text(s), "!21 dexim");
}

TEST(BCString, TrimRightRemovesSpacesOnly)
{
    CBCString s("text \t  ");
    s.TrimRight();
    EXPECT_EQ(Text(s), "text \t");
    CBCString c("path///");
    c.TrimRight('/');
    EXPECT_EQ(Text(c), "path");
    CBCString set("abc.xyxyy");
    set.TrimRight("yx");
    EXPECT_EQ(Text(set), "abc.");
    set.TrimRight("abc.");
    EXPECT_EQ(Text(set), "");
    CBCString untouched("keep");
    untouched.TrimRight("");
    EXPECT_EQ(Text(untouched), "keep");
}

TEST(BCString, TrimLeft)
{
    CBCString s("  \tx ");
    s.TrimLeft();
    EXPECT_EQ(Text(s), "\tx ");
    CBCString c("000120");
    c.TrimLeft('0');
    EXPECT_EQ(Text(c), "120");
    CBCString all("    ");
    all.TrimLeft();
    EXPECT_TRUE(all.IsEmpty());
}

TEST(BCString, ReplaceCharacters)
{
    CBCString s("a\\b\\c");
    EXPECT_EQ(s.Replace('\\', '/'), 2);
    EXPECT_EQ(Text(s), "a/b/c");
    EXPECT_EQ(s.Replace('x', 'y'), 0);
}

TEST(BCString, ReplaceTextScansLeftToRightWithoutOverlap)
{
    CBCString s("aaaa");
    EXPECT_EQ(s.Replace("aa", "b"), 2);
    EXPECT_EQ(Text(s), "bb");
    CBCString odd("aaa");
    EXPECT_EQ(odd.Replace("aa", "x"), 1);
    EXPECT_EQ(Text(odd), "xa");
    CBCString grow("a.b.c");
    EXPECT_EQ(grow.Replace(".", "::"), 2);
    EXPECT_EQ(Text(grow), "a::b::c");
    CBCString self("ab");
    EXPECT_EQ(self.Replace("a", "aa"), 1);
    EXPECT_EQ(Text(self), "aab");
    CBCString gone("x-y-");
    EXPECT_EQ(gone.Replace("-", ""), 2);
    EXPECT_EQ(Text(gone), "xy");
    CBCString same("abc");
    EXPECT_EQ(same.Replace("", "z"), 0);
    EXPECT_EQ(same.Replace("q", "z"), 0);
    EXPECT_EQ(Text(same), "abc");
}

TEST(BCString, RemoveInsertDelete)
{
    CBCString s("a-b-c");
    EXPECT_EQ(s.Remove('-'), 2);
    EXPECT_EQ(Text(s), "abc");
    EXPECT_EQ(s.Insert(1, 'X'), 4);
    EXPECT_EQ(Text(s), "aXbc");
    EXPECT_EQ(s.Insert(4, "yz"), 6);
    EXPECT_EQ(Text(s), "aXbcyz");
    EXPECT_EQ(s.Insert(0, "<"), 7);
    EXPECT_EQ(Text(s), "<aXbcyz");
    EXPECT_EQ(s.Insert(99, ">"), 8);
    EXPECT_EQ(Text(s), "<aXbcyz>");
    EXPECT_EQ(s.Delete(1, 2), 0);
    EXPECT_EQ(Text(s), "<bcyz>");
    EXPECT_EQ(s.Delete(4, 50), 0);
    EXPECT_EQ(Text(s), "<bcy");
    EXPECT_EQ(s.Delete(10, 1), 0);
    EXPECT_EQ(Text(s), "<bcy");
}

TEST(BCString, Find)
{
    CBCString s("hello");
    EXPECT_EQ(s.Find("lo", 2), 3);
    EXPECT_EQ(s.Find('x'), -1);
    EXPECT_EQ(s.Find('h', 5), -1);
    EXPECT_EQ(s.Find('l'), 2);
    EXPECT_EQ(s.Find('l', 3), 3);
    EXPECT_EQ(s.Find('l', 4), -1);
    EXPECT_EQ(s.Find("l"), 2);
    EXPECT_EQ(s.Find("ll", 3), -1);
    EXPECT_EQ(s.Find("hello!"), -1);
    EXPECT_EQ(s.Find("lo", 5), -1);
    EXPECT_EQ(s.Find('\0'), -1);
    EXPECT_EQ(s.ReverseFind('l'), 3);
    EXPECT_EQ(s.ReverseFind('h'), 0);
    EXPECT_EQ(s.ReverseFind('z'), -1);
}

TEST(BCString, FormatMatchesPrintf)
{
    CBCString s;
    EXPECT_EQ(s.Format("%s", "abcde"), 5);
    EXPECT_EQ(Text(s), "abcde");

    void* p = &s;
    EXPECT_EQ(Formatted("%d|%5i|%-4u|%o|%#x|%X|%c|%%|%5.2s|%p", -17, 42, 7u, 8u, 255u, 0xABCu, 'q',
                  "xyz", p),
        Printf(
            "%d|%5i|%-4u|%o|%#x|%X|%c|%%|%5.2s|%p", -17, 42, 7u, 8u, 255u, 0xABCu, 'q', "xyz", p));
    const char* none = nullptr;
    EXPECT_EQ(Formatted("%s|%.0s|%e|%g|%G", none, "gone", 1.5, 0.25, 1e-20),
        Printf("%s|%.0s|%e|%g|%G", none, "gone", 1.5, 0.25, 1e-20));
    int counted = 0;
    s.Format("abc%n", &counted);
    EXPECT_EQ(counted, 3);
}

TEST(BCString, FormatSizesLargeConversions)
{
    // Fixed notation of the largest doubles: 309 digits before the point.
    EXPECT_EQ(Formatted("%f|%.20f", 1.7e308, -1e300), Printf("%f|%.20f", 1.7e308, -1e300));
    // Widths well beyond every fixed bound.
    const std::string wide = Formatted("%1000d|%*s|%700f", 5, 600, "w", 2.5);
    EXPECT_EQ(wide, Printf("%1000d|%*s|%700f", 5, 600, "w", 2.5));
    EXPECT_EQ(wide.size(), 1000u + 1 + 600 + 1 + 700);
    // Results wider than the fixed bounds: a sign on top of a zero-padded
    // precision, long exponent forms.
    EXPECT_EQ(Formatted("%+.40d|%.200e|%#.300g", -5, 1e300, 1e-300),
        Printf("%+.40d|%.200e|%#.300g", -5, 1e300, 1e-300));
    EXPECT_EQ(Formatted("%.40d", -5), Printf("%.40d", -5));
    EXPECT_EQ(Formatted("%.*e", 150, -1.5e-307), Printf("%.*e", 150, -1.5e-307));
}

TEST(BCString, FormatReadsNoFurtherThanAStringsPrecision)
{
    // Four characters without a terminator, right before an unreadable page.
    const long page = sysconf(_SC_PAGESIZE);
    auto* pages = static_cast<char*>(
        mmap(nullptr, 2 * page, PROT_READ | PROT_WRITE, MAP_PRIVATE | MAP_ANONYMOUS, -1, 0));
    ASSERT_NE(pages, MAP_FAILED);
    ASSERT_EQ(mprotect(pages + page, page, PROT_NONE), 0);
    char* raw = pages + page - 4;
    std::memcpy(raw, "abcd", 4);
    EXPECT_EQ(Formatted("%.4s|%6.3s|%.*s", raw, raw, 2, raw), "abcd|   abc|ab");
    munmap(pages, 2 * page);
}

TEST(BCString, FormatMayUseItsOwnText)
{
    CBCString s("abc");
    s.Format("%s-%s", static_cast<const char*>(s), static_cast<const char*>(s));
    EXPECT_EQ(Text(s), "abc-abc");
}

TEST(BCString, FormatRefusesATextBeyondIntRange)
{
    CBCString s("old");
    CaptureOutput err(stderr);
    EXPECT_EQ(FormatUnchecked(s, "ab%2147483647d", 1), -1);
    EXPECT_EQ(Text(s), "");
    EXPECT_NE(err.Text().find("CBCString::FormatV: cannot format \"ab%2147483647d\"\n"),
        std::string::npos);
}

TEST(BCStringDeathTest, FormatChecksWidthPrecisionAndConversion)
{
    const std::string where = "include/BCString:[0-9]+: "
                              "void CBCString::FormatV\\(const char\\*, __va_list_tag\\*\\): ";
    CBCString s;
    EXPECT_DEATH(s.Format("%*d", -3, 1), where + "Assertion `nWidth >= 0' failed");
    EXPECT_DEATH(s.Format("%.*d", -1, 1), where + "Assertion `nPrecision >= 0' failed");
    EXPECT_DEATH(s.Format("%ld", 1L), where + "Assertion `0' failed");
    EXPECT_DEATH(FormatUnchecked(s, "%y", 1), where + "Assertion `0' failed");
    EXPECT_DEATH(FormatUnchecked(s, "trailing %"), where + "Assertion `0' failed");
}

TEST(BCString, GetBufferGrowsToTheRequestedLength)
{
    CBCString s("ab");
    EXPECT_EQ(static_cast<const char*>(s.GetBuffer(0)), static_cast<const char*>(s));
    char* buffer = s.GetBuffer(20);
    EXPECT_STREQ(buffer, "ab");
    for (int i = 0; i < 20; ++i)
        buffer[i] = static_cast<char>('a' + i);
    buffer[20] = 0;
    EXPECT_EQ(s.GetLength(), 20);
    CBCString none;
    none.GetBuffer(3)[0] = 'x';
    EXPECT_EQ(Text(none), "x");

    // INT_MAX characters and the terminator do not fit an int size.
    CaptureOutput err(stderr);
    EXPECT_EQ(s.GetBuffer(INT_MAX), nullptr);
    EXPECT_EQ(s.GetLength(), 20);
    EXPECT_EQ(err.Text(), "CBCString::GetBuffer: 2147483647 characters cannot be held\n");
}

} // namespace
