// Bounded formatting and the internal-error report's text.
#include <gtest/gtest.h>

#include "startup/report.h"
#include "startup/text_format.h"

namespace {

TEST(FormatText, Directives)
{
    struct Case {
        const wchar_t* expected;
        int length;
    };
    wchar_t out[64];
    EXPECT_EQ(formatText(out, 64, L"%s - %s", L"Arklet", L"x.exe"), 14);
    EXPECT_STREQ(out, L"Arklet - x.exe");
    formatText(out, 64, L"%02d/%02d/%04d %02d:%02d", 3, 7, 2026, 9, 5);
    EXPECT_STREQ(out, L"03/07/2026 09:05");
    formatText(out, 64, L"%08lx %08lx", 0x1438CB76ul, 0xABCul);
    EXPECT_STREQ(out, L"1438cb76 00000abc");
    formatText(out, 64, L"%d %ld %x %u%%", -12, 2147483647L, 305419896u, 4000000000u);
    EXPECT_STREQ(out, L"-12 2147483647 12345678 4000000000%");
    formatText(out, 64, L" <%d>", 9);
    EXPECT_STREQ(out, L" <9>");
    formatText(out, 64, L"%d", (int)0x80000000);
    EXPECT_STREQ(out, L"-2147483648");
}

TEST(FormatText, ResultMustBeShorterThanTheBuffer)
{
    wchar_t out[8];
    EXPECT_EQ(formatText(out, 8, L"%s", L"1234567"), 7);
    EXPECT_EQ(formatText(out, 8, L"%s", L"12345678"), -1);
    EXPECT_STREQ(out, L"");
    EXPECT_EQ(formatText(out, 8, L"%08lx", 1ul), -1);
    wchar_t guard[4] = {L'a', L'b', L'c', L'd'};
    EXPECT_EQ(formatText(guard, 2, L"xy"), -1);
    EXPECT_EQ(guard[2], L'c') << "nothing written past the capacity";
}

TEST(FormatText, BoundedCopyAndAppend)
{
    wchar_t out[6];
    EXPECT_TRUE(copyText(out, 6, L"abc"));
    EXPECT_TRUE(appendText(out, 6, L"de"));
    EXPECT_FALSE(appendText(out, 6, L"f"));
    EXPECT_STREQ(out, L"abcde");
}

TEST(Report, PiecesInOrder)
{
    ReportFacts facts = {L"Interne Arklet-fout in bestand sfxhead regel 1613", 3, 7, 2026, 9, 5,
                         L"C:\\temp\\1a2b\\setup.exe", 6, 1, true, 42, 2048ul * 1024, 1024ul * 1024 + 1023,
                         4096ul * 1024, 100ul * 1024};
    ReportFormats formats = {L"\nHuidige datum/tijd: %02d/%02d/%04d %02d:%02d\r\n",
                             L"Modulenaam = %s\r\n",
                             L"\nVersie besturingssysteem %d.%02d\r\n",
                             L"Windows NT\r\n",
                             L"Windows 95/98\r\n",
                             L"Geheugen in gebruik = %ld%%\r\n",
                             L"Totale fysieke geheugen = %ld Kbytes\r\n",
                             L"Beschikbaar fysiek geheugen = %ld Kbytes\r\n",
                             L"Totaal virtueel geheugen = %ld Kbytes\r\n",
                             L"Beschikbaar virtueel geheugen = %ld Kbytes\r\n"};
    wchar_t out[1024];
    ASSERT_TRUE(composeReport(&facts, &formats, out, 1024));
    EXPECT_STREQ(out, L"Interne Arklet-fout in bestand sfxhead regel 1613\r\n"
                      L"\nHuidige datum/tijd: 03/07/2026 09:05\r\n"
                      L"Modulenaam = C:\\temp\\1a2b\\setup.exe\r\n"
                      L"\nVersie besturingssysteem 6.01\r\n"
                      L"Windows NT\r\n"
                      L"Geheugen in gebruik = 42%\r\n"
                      L"Totale fysieke geheugen = 2048 Kbytes\r\n"
                      L"Beschikbaar fysiek geheugen = 1024 Kbytes\r\n"
                      L"Totaal virtueel geheugen = 4096 Kbytes\r\n"
                      L"Beschikbaar virtueel geheugen = 100 Kbytes\r\n");
    facts.windowsNt = false;
    ASSERT_TRUE(composeReport(&facts, &formats, out, 1024));
    EXPECT_NE(wcsstr(out, L"Windows 95/98\r\n"), nullptr);
    EXPECT_FALSE(composeReport(&facts, &formats, out, 100));
}

} // namespace
