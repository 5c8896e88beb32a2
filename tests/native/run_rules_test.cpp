// The program a file starts after extraction: splitting the header's run command, which names are
// allowed, and the command line that starts it.
#include <gtest/gtest.h>

#include <string>

#include "launch/run_rules.h"

namespace {

TEST(RunCommand, SplitTable)
{
    struct Case {
        const wchar_t* command;
        const wchar_t* program; // null: refused
        const wchar_t* arguments;
    } cases[] = {
        {L"setup.exe /quiet", L"setup.exe", L"/quiet"},
        {L"setup.exe", L"setup.exe", L""},
        {L"  setup.exe   -a  -b ", L"setup.exe", L"-a  -b "},
        {L"\"sub map\\setup.exe\" -x \"a b\"", L"sub map\\setup.exe", L"-x \"a b\""},
        {L"\"setup.exe\"/q", L"setup.exe", L"/q"},
        {L"\"sub map\\setup.exe", nullptr, nullptr}, // quote never closed
        {L"\"\" /q", nullptr, nullptr},
        {L"", nullptr, nullptr},
        {L"   ", nullptr, nullptr},
    };
    for (const auto& c : cases) {
        wchar_t program[64] = L"#";
        const wchar_t* arguments = nullptr;
        bool ok = splitRunCommand(c.command, program, 64, &arguments);
        ASSERT_EQ(ok, c.program != nullptr) << c.command;
        if (ok) {
            EXPECT_STREQ(program, c.program) << c.command;
            EXPECT_STREQ(arguments, c.arguments) << c.command;
        }
    }
    wchar_t small[9];
    const wchar_t* arguments = nullptr;
    EXPECT_TRUE(splitRunCommand(L"12345678 x", small, 9, &arguments));
    EXPECT_FALSE(splitRunCommand(L"123456789 x", small, 9, &arguments)) << "a program that does not fit";
}

TEST(RunCommand, ProgramMustLieBelowTheTargetFolder)
{
    struct Case {
        const wchar_t* program;
        bool runnable;
    } cases[] = {
        {L"setup.exe", true},     {L"sub/setup.exe", true}, {L"sub\\bin\\setup.exe", true},
        {L"../setup.exe", false}, {L"C:\\setup.exe", false}, {L"C:setup.exe", false},
        {L"\\setup.exe", false},  {L"/setup.exe", false},    {L"\\\\server\\share\\setup.exe", false},
        {L"sub/", false},         {L"CON", false},           {L"setup.exe:stream", false},
    };
    for (const auto& c : cases)
        EXPECT_EQ(isRunnableProgramName(c.program), c.runnable) << c.program;
}

TEST(RunCommand, CommandLineQuotesThePath)
{
    wchar_t out[64];
    ASSERT_TRUE(formatRunCommandLine(L"C:\\Uit\\set up.exe", L"/quiet \"a b\"", out, 64));
    EXPECT_STREQ(out, L"\"C:\\Uit\\set up.exe\" /quiet \"a b\"");
    ASSERT_TRUE(formatRunCommandLine(L"C:\\Uit\\setup.exe", L"", out, 64));
    EXPECT_STREQ(out, L"\"C:\\Uit\\setup.exe\"");
    EXPECT_FALSE(formatRunCommandLine(L"C:\\Uit\\setup.exe", L"/quiet", out, 20));
    EXPECT_STREQ(out, L"");
}

} // namespace
