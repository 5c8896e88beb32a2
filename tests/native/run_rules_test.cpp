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

// Only a program starts by itself and only an installer package through msiexec; a batch file would run
// through cmd.exe, which would parse the user's folder name with it.
TEST(RunCommand, KindOfProgramByItsExtension)
{
    const struct {
        const wchar_t* program;
        RunKind kind;
    } cases[] = {
        {L"setup.exe", RUN_PROGRAM},       {L"SETUP.EXE", RUN_PROGRAM},     {L"sub\\Setup.Exe", RUN_PROGRAM},
        {L"a.b/setup.exe", RUN_PROGRAM},   {L".exe", RUN_PROGRAM},          {L"pkg.msi", RUN_PACKAGE},
        {L"sub/PKG.MSI", RUN_PACKAGE},     {L"setup.bat", RUN_REFUSED},     {L"setup.cmd", RUN_REFUSED},
        {L"setup.com", RUN_REFUSED},       {L"setup.ps1", RUN_REFUSED},     {L"setup.vbs", RUN_REFUSED},
        {L"setup.lnk", RUN_REFUSED},       {L"readme.txt", RUN_REFUSED},    {L"setup", RUN_REFUSED},
        {L"setup.exe/x", RUN_REFUSED},     {L"sub.exe\\setup", RUN_REFUSED}, {L"setup.exe.", RUN_REFUSED},
        {L"a.msi ", RUN_REFUSED},          {L"setup.exe.bat", RUN_REFUSED}, {L"setup.bat.exe", RUN_PROGRAM},
        {L"setup.ex", RUN_REFUSED},        {L"setup.exee", RUN_REFUSED},    {L"setup.msix", RUN_REFUSED},
        {L"setup.\uFF45xe", RUN_REFUSED},  {L"", RUN_REFUSED},
    };
    for (const auto& c : cases)
        EXPECT_EQ(runKindOf(c.program), c.kind) << c.program;
}

TEST(RunCommand, PackageCommandLineStartsMsiexecByItsFullPath)
{
    wchar_t path[INSTALLER_PATH_UNITS];
    ASSERT_TRUE(formatInstallerPath(L"C:\\windows\\system32", path, INSTALLER_PATH_UNITS));
    EXPECT_STREQ(path, L"C:\\windows\\system32\\msiexec.exe");
    ASSERT_TRUE(formatInstallerPath(L"C:\\", path, INSTALLER_PATH_UNITS));
    EXPECT_STREQ(path, L"C:\\msiexec.exe");
    EXPECT_FALSE(formatInstallerPath(L"C:\\windows\\system32", path, 30));
    EXPECT_STREQ(path, L"");

    wchar_t out[96];
    ASSERT_TRUE(formatPackageCommandLine(L"C:\\w\\msiexec.exe", L"C:\\Uit map\\pkg.msi", L"/qn ALLUSERS=1", out, 96));
    EXPECT_STREQ(out, L"\"C:\\w\\msiexec.exe\" /i \"C:\\Uit map\\pkg.msi\" /qn ALLUSERS=1");
    ASSERT_TRUE(formatPackageCommandLine(L"C:\\w\\msiexec.exe", L"C:\\Uit\\pkg.msi", L"", out, 96));
    EXPECT_STREQ(out, L"\"C:\\w\\msiexec.exe\" /i \"C:\\Uit\\pkg.msi\"");
    EXPECT_FALSE(formatPackageCommandLine(L"C:\\w\\msiexec.exe", L"C:\\Uit\\pkg.msi", L"/qn", out, 40));
    EXPECT_STREQ(out, L"");
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
