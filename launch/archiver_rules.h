// Pure rules for starting the archiver: the registry's open command, the packaged archiver's names, the
// request to its helper program, and the .zip name of a spanned set. No OS calls.
#ifndef AKSFX_ARCHIVER_RULES_H
#define AKSFX_ARCHIVER_RULES_H

#include <stdint.h>
#include <wchar.h>

enum : uint32_t {
    ARCHIVER_COMMAND_UNITS = 521,   // the open command as read from the registry
    ARCHIVER_PARAMETER_UNITS = 521, // the quoted archive path or the RunExe request: the request's bound
    PACKAGE_EXECUTABLE_UNITS = 260,
};

// The key whose default value is the full path of the packaged archiver's helper program.
#define ARKLET_HELPER_APP_PATH L"Software\\Microsoft\\Windows\\CurrentVersion\\App Paths\\ArkletUWPHelper.exe"

// Cuts the command at the first blank, double quote, '%', '1' sequence; keeps it whole without one.
void cutOpenCommand(wchar_t* command);

// A value name under the archive type's OpenWithProgids that may be the packaged archiver: longer than
// 4 characters and beginning with "AppX" in any case.
bool isPackagedProgId(const wchar_t* name);

// An application user model id of the archiver's maker: begins with "ArkletComputing." in any case.
bool isArkletModelId(const wchar_t* modelId);

// The archive path between double quotes. False (out empty) when it does not fit capacity units.
bool quoteArchivePath(wchar_t* out, uint32_t capacity, const wchar_t* archivePath);

// A program path as read from the registry, in place: a pair of double quotes around it is removed. True
// when it is then absolute: a drive letter, a colon and a backslash, or two backslashes and a name (UNC).
// A bare or relative name would be searched for, the working folder first.
bool takeAbsoluteProgramPath(wchar_t* path);

// "RunExe", the delimiter, the package executable, the delimiter, the quoted archive path. False (out
// empty) when the request does not fit capacity units.
bool formatRunExeRequest(wchar_t* out, uint32_t capacity, const wchar_t* packageExecutable,
                         const wchar_t* archivePath);

// For a spanned set with .ZIP volumes (SFXF_SPANNED set, SFXF_EXE_VOLUMES clear): the three characters
// before the closing quote become "zip". True when it changed the parameters.
bool renameForZipVolumes(wchar_t* parameters, uint32_t flags);

#endif
