#include "PyrraDebug.h"

#include "CaptureOutput.h"

#include <gtest/gtest.h>
#include <string>

namespace {

TEST(PyrraDebug, MessageGoesToStandardOutputUnchanged)
{
    CaptureOutput out(stdout);
    CaptureOutput err(stderr);
    EXPECT_EQ(PyrraDebug::DebugMsg("abc"), 512);
    EXPECT_EQ(PyrraDebug::DebugMsg(" %d-%s\n", 7, "x"), 512);
    EXPECT_EQ(out.Text(), "abc 7-x\n");
    EXPECT_EQ(err.Text(), "");
}

TEST(PyrraDebug, ErrorGoesToStandardErrorUnchanged)
{
    CaptureOutput out(stdout);
    CaptureOutput err(stderr);
    EXPECT_EQ(PyrraDebug::DebugErr("LoadPluginCenter Error"), 512);
    EXPECT_EQ(err.Text(), "LoadPluginCenter Error");
    EXPECT_EQ(out.Text(), "");
}

TEST(PyrraDebug, LongMessagesArePrintedWholeAndReportTheirBuffer)
{
    const std::string text600(600, 'm');
    const std::string text511(511, 'n');
    const std::string text512(512, 'o');
    CaptureOutput out(stdout);
    EXPECT_EQ(PyrraDebug::DebugMsg("%s", text600.c_str()), 601);
    EXPECT_EQ(PyrraDebug::DebugMsg("%s", text511.c_str()), 512);
    EXPECT_EQ(PyrraDebug::DebugMsg("%s", text512.c_str()), 513);
    EXPECT_EQ(out.Text(), text600 + text511 + text512);

    const std::string text5000(5000, 'e');
    CaptureOutput err(stderr);
    EXPECT_EQ(PyrraDebug::DebugErr("%s|", text5000.c_str()), 5002);
    EXPECT_EQ(err.Text(), text5000 + "|");
}

TEST(PyrraDebug, MessageThatCannotBeFormattedIsDropped)
{
    // The C locale has no multibyte form for this character: vsnprintf
    // fails however large the buffer.
    CaptureOutput out(stdout);
    EXPECT_EQ(PyrraDebug::DebugMsg("before %ls after", L"\xe9"), 0);
    EXPECT_EQ(out.Text(), "");
}

} // namespace
