// Rules about paths on the tool's command line that guard the distributor's files and catch paths
// written for the other system. Pure: the real paths are resolved elsewhere (host_files.h).
#ifndef AKSFX_PATH_GUARDS_H
#define AKSFX_PATH_GUARDS_H

#include <filesystem>
#include <string>

// Whether inner is outer or lies below it, compared component by component (so /a/bc is not inside
// /a/b). Both must be absolute and resolved already; ignoreCase compares as Windows does.
bool pathLiesWithin(const std::filesystem::path& inner, const std::filesystem::path& outer, bool ignoreCase);

// The warning (without "warning: ") for an -o path that looks written for the other system, or empty.
// The Linux tool (windowsTool false): a drive letter with a separator ("C:\", "d:/") or any backslash.
// The Windows tool: a path that begins with one of the folders every Unix system has at its root
// ("/home", "/tmp", "/usr", "/var", "/etc", "/opt", "/mnt", "/media", "/root", "/srv"), or with "~/".
std::string outputPathWarning(const std::string& output, bool windowsTool);

// The warning (without "warning: ") for a --folder text that looks like a Unix path, or empty: it begins
// with '/' or '~', or holds '/' but no '\'. The target folder is a Windows path: a drive letter
// ("C:/Apps" uses '/' as Windows allows) and an environment reference the stub expands
// ("%ProgramFiles%/App") at its start mark a Windows path.
std::string folderTextWarning(const std::string& folder);

#endif
