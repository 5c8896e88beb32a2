// File helpers for the Windows tests: scratch folders, whole-file reads and writes, and running the
// building tool.
//
// A helper that fails an ASSERT_* only returns from itself: the test goes on. So a test calls such a helper
// (writeWhole, writeText, buildSfx, or one of its own built on them) through ASSERT_NO_FATAL_FAILURE, and
// after a helper that returns a value it checks HasFatalFailure() and returns.
#ifndef AKSFX_TEST_FILES_H
#define AKSFX_TEST_FILES_H

#include <windows.h>

#include <stdint.h>
#include <string>
#include <vector>

// The build folder's programs, as Windows paths (aksfx32.exe, aksfx-build.exe).
std::wstring buildProgram(const wchar_t* name);

// A fresh, empty folder below the temporary folder, named for the test; ends with a backslash.
std::wstring scratchFolder(const std::wstring& name);

std::vector<uint8_t> readWhole(const std::wstring& path);
void writeWhole(const std::wstring& path, const std::vector<uint8_t>& bytes);
void writeText(const std::wstring& path, const std::string& text);
bool exists(const std::wstring& path);

// Runs a console program, waits, returns its exit code; its output goes to *output when given.
DWORD runConsole(const std::wstring& commandLine, std::string* output = nullptr);

// Quotes one command-line argument by the system's rules (backslashes before a quote are doubled).
std::wstring quote(const std::wstring& argument);

// Runs aksfx-build with the given arguments (already quoted as needed); a non-zero exit is a fatal failure.
void buildSfx(const std::wstring& arguments);

uint32_t le32(const std::vector<uint8_t>& bytes, size_t at);
void putLe32(std::vector<uint8_t>& bytes, size_t at, uint32_t value);

// Offset of the parameter block in a built file.
size_t blockOffset(const std::vector<uint8_t>& file);

// The full path of a running process's program file, empty when it cannot be asked.
std::wstring imagePathOf(DWORD pid);

// Defines letter: as a removable drive on a Linux folder through Wine's mount manager, which then reads
// the folder's .windows-label; an empty folder removes the drive. False when the manager refuses.
bool defineRemovableDrive(wchar_t letter, const std::string& unixFolder);

// The folders directly below the temporary folder.
std::vector<std::wstring> temporaryFolderNames();

#endif
