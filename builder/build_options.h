// The building tool's command line (a fixed contract with outside scripts) and the run that follows it.
#ifndef AKSFX_BUILD_OPTIONS_H
#define AKSFX_BUILD_OPTIONS_H

#include <ostream>
#include <string>
#include <vector>

#include "exclude_rules.h"
#include "installer_resources.h"
#include "sfx_writer.h"

struct BuildOptions {
    bool help = false;
    std::string inspectPath;  // --inspect FILE.exe
    std::string testPath;     // --test FILE
    bool passwordGiven = false;
    std::string testPassword; // --password, for --test and --inspect
    std::string output;       // -o
    std::string input;        // the .zip file or folder
    std::string stub;         // --stub; empty = aksfx32.exe beside the tool
    SfxSettings settings;     // texts, flags, CRC range
    bool infoGiven = false;
    bool encrypt = false;
    std::string password;
    bool store = false;
    int level = 0;            // --level; 0 = the default level
    uint32_t span = 0;        // --span: room on each disk; 0 = one self-extracting file
    bool zipVolumes = false;  // --zip-volumes
    std::string icon;         // --icon FILE.ico
    StubCustomisation custom; // --version-info and --admin (the icon's images are read when building)
    std::vector<ExcludePattern> excludes; // --exclude
    bool followLinks = false;             // --follow-links
    std::string folderText;               // --folder as given, for the warning about Unix paths
};

// Parses the arguments (without the program name). Throws UsageError with one line.
BuildOptions parseCommandLine(const std::vector<std::string>& args);

const char* helpText();

// The label a disk of a spanned set must carry, also the name of its folder: "PKBACK# 001".
std::string diskLabel(uint32_t disk);

// Volume file names of a spanned set made as output (a name ending in .exe): the program's own name and
// the name of the .ZIP volumes (extension in the program's letter case).
std::string zipVolumeName(const std::string& programName);

// The warnings (without "warning: ") about paths that look written for the other system: -o for the
// Linux or the Windows tool (windowsTool), and --folder.
std::vector<std::string> pathWarnings(const BuildOptions& options, bool windowsTool);

// Runs the tool on UTF-8 arguments; writes the help, the inspect or the test report to out, and each
// warning as one line "warning: ..." to *warnings when given. Returns the exit status and leaves the
// one-line failure in *errorLine (empty on success).
int runTool(const std::vector<std::string>& args, const std::string& toolFolder, std::ostream& out,
            std::string* errorLine, std::ostream* warnings = nullptr);

#endif
