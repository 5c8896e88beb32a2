// Rules of the main dialog, the password dialog and the meter: centring, title and introduction, when the
// meter shows, where it splits and where its text goes.
#include <gtest/gtest.h>

#include "startup/payload_format.h"
#include "ui/dialog_rules.h"

namespace {

TEST(DialogRules, CentringTruncatesTowardZero)
{
    struct Case {
        int screen, nearEdge, farEdge, expected;
    } cases[] = {
        {1024, 94, 502, 308},    // (1024 + 94 - 502) / 2
        {1024, 0, 401, 311},     // odd spare space: 623 / 2 rounds down
        {800, 0, 1001, -100},    // a window wider than the screen: -201 / 2 is -100, not -101
        {800, -50, 650, 50},     // a rectangle that starts off the screen: (800 - 50 - 650) / 2
        {0, 0, 0, 0},
    };
    for (const Case& c : cases)
        EXPECT_EQ(centredOrigin(c.screen, c.nearEdge, c.farEdge), c.expected)
            << c.screen << " " << c.nearEdge << " " << c.farEdge;
}

TEST(DialogRules, IntroductionNamesUpTo24Characters)
{
    const wchar_t* thisFile = L"dit zelfuitpakkende bestand";
    std::wstring n24(20, L'a'), n25(21, L'a');
    n24 += L".exe";
    n25 += L".exe";
    EXPECT_STREQ(introductionName(n24.c_str(), thisFile), n24.c_str());
    EXPECT_STREQ(introductionName(n25.c_str(), thisFile), thisFile);
    EXPECT_STREQ(introductionName(L"", thisFile), L"");
    std::wstring veryLong(300, L'b');
    EXPECT_STREQ(introductionName(veryLong.c_str(), thisFile), thisFile);
}

TEST(DialogRules, TitleChoice)
{
    EXPECT_EQ(chooseDialogTitle(0, L""), TITLE_CAPTION_AND_NAME);
    EXPECT_EQ(chooseDialogTitle(SFXF_HAS_CAPTION, L"Mijn installatie"), TITLE_CAPTION_AND_NAME)
        << "a caption alone changes only the start-up message";
    EXPECT_EQ(chooseDialogTitle(SFXF_SETUP_TITLE, L"Mijn installatie"), TITLE_HEADER_CAPTION);
    EXPECT_EQ(chooseDialogTitle(SFXF_SETUP_TITLE | SFXF_HAS_CAPTION, L""), TITLE_SETUP);
}

TEST(DialogRules, WhenTheMeterShows)
{
    EXPECT_FALSE(meterShownAtOnce(524287, 0));
    EXPECT_TRUE(meterShownAtOnce(524288, 0));
    EXPECT_TRUE(meterShownAtOnce(0xFFFFFFFF, 0));
    EXPECT_TRUE(meterShownAtOnce(100, SFXF_SPANNED));
    EXPECT_FALSE(meterShownAtOnce(100, SFXF_EXE_VOLUMES)) << "only the spanned flag counts";

    // At the tick: less than a third (truncated) of the total written.
    EXPECT_TRUE(meterShownAtTick(0, 3));
    EXPECT_FALSE(meterShownAtTick(1, 3));
    EXPECT_TRUE(meterShownAtTick(332, 1000));
    EXPECT_FALSE(meterShownAtTick(333, 1000));
    EXPECT_FALSE(meterShownAtTick(0, 2)) << "2 / 3 is 0: a tiny archive never shows the meter";
    EXPECT_TRUE(meterShownAtTick(0x55555554, 0xFFFFFFFF));
}

TEST(MeterRules, SplitPoint)
{
    struct Case {
        uint16_t range, position;
        int32_t width;
        int32_t split;
    } cases[] = {
        {100, 50, 200, 100},
        {100, 0, 200, 0},
        {100, 100, 256, 256},
        {100, 33, 256, 84},          // 8448 / 100 truncates
        {0, 50, 200, 0},             // range 0: all unfilled, whatever the position
        {0, 0, 200, 0},
        {100, 150, 200, 300},        // past the range: the unfilled part (300, 200) is empty
        {65535, 65535, 32767, 32767},// the largest values stay inside 32 bits
        {3, 1, 10, 3},
    };
    for (const Case& c : cases) {
        MeterLayout layout = meterLayout(c.range, c.position, c.width, 20, 13, true);
        EXPECT_EQ(layout.split, c.split) << c.range << " " << c.position << " " << c.width;
        EXPECT_TRUE(layout.drawFilled);
        EXPECT_EQ(layout.textX, c.width / 2);
    }
}

TEST(MeterRules, ValuesAreStoredAsSixteenBits)
{
    // The control keeps the low 16 bits of what it is sent; the layout sees those.
    uint16_t range = (uint16_t)65536u, position = (uint16_t)65586u; // 0 and 50
    EXPECT_EQ(meterLayout(range, position, 200, 20, 13, true).split, 0);
    range = (uint16_t)65636u; // 100
    EXPECT_EQ(meterLayout(range, position, 200, 20, 13, true).split, 100);
}

TEST(MeterRules, TextSitsAQuarterDownTheSpareHeight)
{
    struct Case {
        int32_t width, height, textHeight, x, y;
    } cases[] = {
        {258, 20, 13, 129, 1},         // 7 spare: a quarter is 1
        {431, 30, 13, 215, 4},         // 17 / 4; odd width halves down
        {200, 13, 13, 100, 0},
        {200, 10, 13, 100, 0x3FFFFFFF},// a bar lower than its text: far below, only colours show
    };
    for (const Case& c : cases) {
        MeterLayout layout = meterLayout(100, 50, c.width, c.height, c.textHeight, true);
        EXPECT_EQ(layout.textX, c.x) << c.width;
        EXPECT_EQ(layout.textY, c.y) << c.height << " " << c.textHeight;
    }
}

TEST(MeterRules, UnmeasuredTextGoesToTheTopOverTheUnfilledColours)
{
    MeterLayout layout = meterLayout(100, 75, 200, 20, 0, false);
    EXPECT_FALSE(layout.drawFilled);
    EXPECT_EQ(layout.split, 0) << "the unfilled part then covers the whole bar";
    EXPECT_EQ(layout.textY, 0);
    EXPECT_EQ(layout.textX, 100);
}

TEST(MeterRules, FontHeightForTheScreen)
{
    EXPECT_EQ(meterFontHeight(96), -10);
    EXPECT_EQ(meterFontHeight(120), -13);
    EXPECT_EQ(meterFontHeight(144), -16);
    EXPECT_EQ(meterFontHeight(72), -8);
}

} // namespace

namespace {

TEST(FolderRules, OneTrailingBackslashIsRemoved)
{
    struct Case {
        const wchar_t* before;
        const wchar_t* after;
    } cases[] = {
        {L"C:\\Users\\x\\AppData\\Local\\Temp\\", L"C:\\Users\\x\\AppData\\Local\\Temp"},
        {L"C:\\Temp", L"C:\\Temp"},
        {L"C:\\", L"C:\\"},          // the drive's root keeps its backslash
        {L"C:\\a\\\\", L"C:\\a\\\\"},// two backslashes stay both
        {L"a\\", L"a\\"},            // two characters are left alone
        {L"ab\\", L"ab"},
        {L"", L""},
        {L"\\\\server\\share\\", L"\\\\server\\share"},
    };
    for (const Case& c : cases) {
        std::wstring path = c.before;
        bool removed = stripTrailingBackslash(&path[0]);
        EXPECT_STREQ(path.c_str(), c.after);
        EXPECT_EQ(removed, wcscmp(c.before, c.after) != 0) << (int)wcslen(c.before);
    }
}

} // namespace
