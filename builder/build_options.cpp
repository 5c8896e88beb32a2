#include "build_options.h"

#include <ctype.h>
#include <stdio.h>
#include <stdlib.h>

#include <filesystem>
#include <new>

#include "../startup/payload_format.h"
#include "archive_check.h"
#include "build_error.h"
#include "folder_packer.h"
#include "host_files.h"
#include "path_guards.h"
#include "run_program.h"
#include "sfx_check.h"
#include "unicode_text.h"
#include "zip_reader.h"

namespace fs = std::filesystem;

enum : unsigned long long { OUTPUT_SPAN_LIMIT = 0x80000000ull };

#ifdef _WIN32
static const bool WINDOWS_TOOL = true;
#else
static const bool WINDOWS_TOOL = false;
#endif

const char* helpText()
{
    return "usage: aksfx-build [options] -o OUTPUT.exe INPUT   INPUT: a .zip file or a folder\n"
           "       aksfx-build --inspect FILE.exe [--password TEXT]\n"
           "       aksfx-build --test FILE [--password TEXT]         FILE: a self-extracting file or a .zip\n"
           "\n"
           "  --stub FILE          stub to use (default: aksfx32.exe beside this tool)\n"
           "  --folder TEXT        default target folder (header text 1)\n"
           "  --message TEXT       start-up message (header text 3)\n"
           "  --caption TEXT       caption (header text 4; sets SFXF_HAS_CAPTION)\n"
           "  --info TEXT          build option string shown by -info (header text 5); default: the\n"
           "                       options given, without texts, paths and the password\n"
           "  --auto               SFXF_AUTO: extract without waiting for the user\n"
           "  --overwrite          SFXF_OVERWRITE_DEFAULT: overwrite without asking starts checked\n"
           "  --setup-title        SFXF_SETUP_TITLE\n"
           "  --ask yes-no|ok-cancel   SFXF_STARTUP_ASK (+ SFXF_STARTUP_OKCANCEL) for the start-up message\n"
           "  --password-prompt    SFXF_ASK_PASSWORD (also set when the archive holds an encrypted entry)\n"
           "  --crc after-headers|full|none   range of the header CRC (default after-headers)\n"
           "  --encrypt PASSWORD   folder input: traditional ZIP encryption of every file (ASCII password)\n"
           "  --store              folder input: store instead of deflate\n"
           "  --exclude PATTERN    folder input: leave out what PATTERN matches, in the style of .gitignore\n"
           "                       ('*' and '?' within a name, '**' across folders, a trailing '/' for\n"
           "                       folders only, a leading or inner '/' anchors at INPUT); repeatable\n"
           "  --follow-links       folder input: pack what symbolic links to places outside INPUT point\n"
           "                       to (without it such links are refused)\n"
           "  --level N            folder input: deflate level, 1 (fastest) to 12 (smallest; default 10);\n"
           "                       a tool built with zlib instead of libdeflate treats 10-12 as 9\n"
           "  --span BYTES         write a spanned set for removable disks of BYTES each: one folder per\n"
           "                       disk beside OUTPUT, named by the label the disk must carry\n"
           "                       (\"PKBACK# 001\", ...); OUTPUT must end in .exe\n"
           "  --zip-volumes        with --span: the archive goes into OUTPUT.ZIP files (disk 1 holds the\n"
           "                       program and the first piece); default: OUTPUT.EXE on every disk\n"
           "  --run \"PROGRAM [ARGUMENTS]\"   SFXF_RUN_AFTER: start PROGRAM, a file entry of the archive\n"
           "                       (quoted when its name holds blanks), from the target folder after a run\n"
           "                       that wrote every entry (header text 2): a program (.exe), or an installer\n"
           "                       package (.msi) that the system's msiexec.exe /i installs\n"
           "  --run-wait           with --run: SFXF_RUN_WAIT: wait for the program; its exit code becomes\n"
           "                       the self-extracting file's\n"
           "  --icon FILE.ico      the file's own icon instead of the stub's (1 to 64 images, at most\n"
           "                       16 MiB, each image with bytes of its own)\n"
           "  --version-info \"Key=Text;...\"   a version resource: FileVersion=a.b.c.d (required; also the\n"
           "                       fixed version numbers), ProductVersion (default: FileVersion),\n"
           "                       ProductName, CompanyName, FileDescription, LegalCopyright, Comments, ...\n"
           "  --admin              the manifest asks for administrator rights (requireAdministrator)\n"
           "  --silent             SFXF_SILENT: run silently by default: no window and no message box\n"
           "  --inspect FILE.exe   print the parameter block, flags, header texts, the start-up checks, the\n"
           "                       entries with their data checked, icon, version resource, execution\n"
           "                       level and signature; exit status 1 when a check fails\n"
           "  --test FILE          decode every entry of FILE and check its size and CRC-32; one line\n"
           "                       per entry and a summary; exit status 1 on any damage\n"
           "  --password TEXT      with --test or --inspect: check encrypted entries with this password\n"
           "                       (without it their data is not checked)\n"
           "\n"
           "Header CRC ranges: after-headers runs from the section table to the archive, so the file can\n"
           "still be signed (signing changes only the checksum and the certificate entry before that range,\n"
           "and appends after the archive). full runs from offset 0 and so covers the PE checksum, which in\n"
           "turn covers the CRC: the tool stores the final checksum before computing the CRC and adds a\n"
           "balancing word after the ZIP end record that keeps the checksum right; such a file cannot be\n"
           "signed afterwards. none stores 0 and the stub checks nothing.\n"
           "\n"
           "Exit status: 0 success, 2 usage error, 1 any other failure.\n";
}

static std::u16string textArgument(const std::string& option, const std::string& value)
{
    std::u16string text;
    if (!utf8ToUtf16(value, &text))
        throw UsageError(option + " text is not valid UTF-8");
    return text;
}

static bool equalsIgnoringCase(const std::string& a, const std::string& b)
{
    if (a.size() != b.size())
        return false;
    for (size_t i = 0; i < a.size(); i++)
        if (tolower((unsigned char)a[i]) != tolower((unsigned char)b[i]))
            return false;
    return true;
}

BuildOptions parseCommandLine(const std::vector<std::string>& args)
{
    BuildOptions o;
    std::vector<std::string> given; // for the default info string
    std::vector<std::string> positional;
    for (size_t i = 0; i < args.size(); i++) {
        const std::string& a = args[i];
        auto value = [&]() -> const std::string& {
            if (i + 1 >= args.size())
                throw UsageError(a + " needs a value");
            return args[++i];
        };
        if (a == "-h" || a == "--help") {
            o.help = true;
        } else if (a == "--inspect") {
            o.inspectPath = value();
        } else if (a == "--test") {
            o.testPath = value();
        } else if (a == "--password") {
            o.testPassword = value();
            o.passwordGiven = true;
        } else if (a == "-o") {
            o.output = value();
        } else if (a == "--stub") {
            o.stub = value();
        } else if (a == "--folder") {
            o.folderText = value();
            o.settings.folder = textArgument(a, o.folderText);
            given.push_back(a);
        } else if (a == "--message") {
            o.settings.message = textArgument(a, value());
            given.push_back(a);
        } else if (a == "--caption") {
            o.settings.caption = textArgument(a, value());
            o.settings.flags |= SFXF_HAS_CAPTION;
            given.push_back(a);
        } else if (a == "--info") {
            o.settings.info = textArgument(a, value());
            o.infoGiven = true;
        } else if (a == "--auto") {
            o.settings.flags |= SFXF_AUTO;
            given.push_back(a);
        } else if (a == "--overwrite") {
            o.settings.flags |= SFXF_OVERWRITE_DEFAULT;
            given.push_back(a);
        } else if (a == "--setup-title") {
            o.settings.flags |= SFXF_SETUP_TITLE;
            given.push_back(a);
        } else if (a == "--password-prompt") {
            o.settings.flags |= SFXF_ASK_PASSWORD;
            given.push_back(a);
        } else if (a == "--ask") {
            const std::string& v = value();
            o.settings.flags &= ~(uint32_t)(SFXF_STARTUP_ASK | SFXF_STARTUP_OKCANCEL);
            if (v == "yes-no")
                o.settings.flags |= SFXF_STARTUP_ASK;
            else if (v == "ok-cancel")
                o.settings.flags |= SFXF_STARTUP_ASK | SFXF_STARTUP_OKCANCEL;
            else
                throw UsageError("--ask takes yes-no or ok-cancel, not \"" + v + "\"");
            given.push_back(a + " " + v);
        } else if (a == "--crc") {
            const std::string& v = value();
            if (v == "after-headers")
                o.settings.crc = CrcRange::AfterHeaders;
            else if (v == "full")
                o.settings.crc = CrcRange::Full;
            else if (v == "none")
                o.settings.crc = CrcRange::None;
            else
                throw UsageError("--crc takes after-headers, full or none, not \"" + v + "\"");
            given.push_back(a + " " + v);
        } else if (a == "--encrypt") {
            o.encrypt = true;
            o.password = value();
            if (o.password.empty())
                throw UsageError("--encrypt needs a non-empty password");
            for (char c : o.password)
                if ((uint8_t)c < 0x20 || (uint8_t)c >= 0x7F)
                    throw UsageError("--encrypt password must be printable ASCII (the stub reads it in the ANSI code page)");
            given.push_back(a);
        } else if (a == "--store") {
            o.store = true;
            given.push_back(a);
        } else if (a == "--level") {
            const std::string& v = value();
            char* end = nullptr;
            long n = v.empty() || !isdigit((unsigned char)v[0]) ? 0 : strtol(v.c_str(), &end, 10);
            if (!end || *end || n < MIN_DEFLATE_LEVEL || n > MAX_DEFLATE_LEVEL)
                throw UsageError("--level takes a number from 1 to 12, not \"" + v + "\"");
            o.level = (int)n;
            given.push_back(a + " " + v);
        } else if (a == "--span") {
            const std::string& v = value();
            char* end = nullptr;
            unsigned long long n = v.empty() || v[0] < '0' || v[0] > '9' ? 0 : strtoull(v.c_str(), &end, 10);
            if (!end || *end || n == 0 || n >= OUTPUT_SPAN_LIMIT)
                throw UsageError("--span takes a number of bytes below 2 GiB, not \"" + v + "\"");
            o.span = (uint32_t)n;
            given.push_back(a + " " + v);
        } else if (a == "--zip-volumes") {
            o.zipVolumes = true;
            given.push_back(a);
        } else if (a == "--run") {
            o.settings.runCommand = textArgument(a, value());
            runProgramName(o.settings.runCommand); // refuses a text the stub cannot split
            o.settings.flags |= SFXF_RUN_AFTER;
            given.push_back(a);
        } else if (a == "--run-wait") {
            o.settings.flags |= SFXF_RUN_WAIT;
            given.push_back(a);
        } else if (a == "--icon") {
            o.icon = value();
            given.push_back(a);
        } else if (a == "--version-info") {
            o.custom.version = parseVersionInfo(value());
            o.custom.hasVersion = true;
            given.push_back(a);
        } else if (a == "--admin") {
            o.custom.administrator = true;
            given.push_back(a);
        } else if (a == "--silent") {
            o.settings.flags |= SFXF_SILENT;
            given.push_back(a);
        } else if (a == "--exclude") {
            o.excludes.push_back(parseExcludePattern(value(), hostExcludeStyle()));
            if (o.excludes.size() == 1)
                given.push_back(a);
        } else if (a == "--follow-links") {
            o.followLinks = true;
            given.push_back(a);
        } else if (a.size() > 1 && a[0] == '-') {
            throw UsageError("unknown option " + a);
        } else {
            positional.push_back(a);
        }
    }
    if (o.help)
        return o;
    // --inspect FILE and --test FILE take no other option but --password.
    const size_t readingArgs = 2 + (o.passwordGiven ? 2 : 0);
    if (!o.inspectPath.empty() && !o.testPath.empty())
        throw UsageError("--inspect and --test go one at a time");
    if (!o.inspectPath.empty()) {
        if (args.size() != readingArgs)
            throw UsageError("--inspect takes only the file to inspect (and --password)");
        return o;
    }
    if (!o.testPath.empty()) {
        if (args.size() != readingArgs)
            throw UsageError("--test takes only the file to test (and --password)");
        return o;
    }
    if (o.passwordGiven)
        throw UsageError("--password goes with --test or --inspect (--encrypt sets the password of a new file)");
    if (positional.size() != 1)
        throw UsageError(positional.empty() ? "no INPUT given" : "more than one INPUT given: " + positional[1]);
    o.input = positional[0];
    if (o.output.empty())
        throw UsageError("no output file given (-o OUTPUT.exe)");
    if (o.zipVolumes && o.span == 0)
        throw UsageError("--zip-volumes needs --span");
    if ((o.settings.flags & SFXF_RUN_WAIT) && !(o.settings.flags & SFXF_RUN_AFTER))
        throw UsageError("--run-wait needs --run");
    if (o.span != 0) {
        std::string name = pathToUtf8(pathFromUtf8(o.output).filename());
        if (name.size() < 5 || !equalsIgnoringCase(name.substr(name.size() - 4), ".exe"))
            throw UsageError("with --span the output must be a program ending in .exe, not \"" + name + "\"");
    }
    if (!o.infoGiven) {
        std::string info;
        for (const std::string& g : given)
            info += (info.empty() ? "" : " ") + g;
        o.settings.info = textArgument("--info", info);
    }
    buildSfxHeader(o.settings); // refuses over-long texts as usage errors
    return o;
}

std::string diskLabel(uint32_t disk)
{
    char label[16];
    snprintf(label, sizeof label, "PKBACK# %03u", disk);
    return label;
}

std::string zipVolumeName(const std::string& programName)
{
    std::string stem = programName.substr(0, programName.size() - 4);
    bool lower = programName.compare(programName.size() - 3, 3, "exe") == 0;
    return stem + (lower ? ".zip" : ".ZIP");
}

// What the tool reads from, resolved, so that nothing it writes lands in it.
struct InputGuard {
    std::string given; // as on the command line
    bool folder;
    fs::path real;     // empty when the input cannot be resolved (reading it fails later)
};

// Refuses to write target into the folder being packed (the next build would pack the result, and the
// file may replace one of the folder's own) or over the input archive itself. Links on either side are
// resolved, a link at target included: writing would go where it points.
static void refuseWritingIntoInput(const fs::path& target, const std::string& output, const InputGuard& input)
{
    if (input.real.empty())
        return;
    const fs::path resolved = resolvedPath(target);
    const std::string what = pathToUtf8(target) == output ? output : pathToUtf8(target) + " (a disk of " + output + ")";
    if (input.folder) {
        if (pathLiesWithin(resolved.parent_path(), input.real, hostIgnoresCase()))
            throw BuildError("refusing to write " + what + " inside the folder being packed, " + input.given
                             + " (write it elsewhere)");
        return;
    }
    std::error_code error;
    if (resolved == input.real || fs::equivalent(target, input.real, error))
        throw BuildError("refusing to write " + what + ": it is the input archive " + input.given + " itself");
}

// One folder per disk beside the output, each named by its label, holding that disk's files. Nothing is
// written before every file's place has been checked against the input.
static void writeSpannedSet(const fs::path& output, const SpannedSet& set, bool zipVolumes, const InputGuard& input)
{
    const fs::path folder = output.parent_path();
    const std::string programName = pathToUtf8(output.filename());
    const std::string volumeName = zipVolumes ? zipVolumeName(programName) : programName;
    for (size_t i = 0; i < set.volumes.size(); i++) {
        fs::path disk = folder / pathFromUtf8(diskLabel((uint32_t)i + 1));
        refuseWritingIntoInput(disk / pathFromUtf8(programName), pathToUtf8(output), input);
        refuseWritingIntoInput(disk / pathFromUtf8(volumeName), pathToUtf8(output), input);
    }
    for (size_t i = 0; i < set.volumes.size(); i++) {
        fs::path disk = folder / pathFromUtf8(diskLabel((uint32_t)i + 1));
        std::error_code error;
        fs::create_directories(disk, error);
        if (error)
            throw BuildError("cannot create " + pathToUtf8(disk) + ": " + error.message());
        if (i == 0 && zipVolumes)
            writeWholeFile(disk / pathFromUtf8(programName), set.program);
        writeWholeFile(disk / pathFromUtf8(volumeName), set.volumes[i]);
    }
}

// The stub with the icon, version resource and manifest the options ask for.
static std::vector<uint8_t> customisedStub(const BuildOptions& o, const fs::path& stubPath,
                                           const std::vector<uint8_t>& stub)
{
    StubCustomisation custom = o.custom;
    if (!o.icon.empty()) {
        std::vector<uint8_t> iconFile = readFileStart(pathFromUtf8(o.icon), ICON_MAX_FILE_BYTES + 1);
        try {
            custom.icon = parseIconFile(iconFile);
        } catch (const BuildError& e) {
            throw BuildError(o.icon + ": " + e.what());
        }
    }
    if (!custom.any())
        return stub;
    try {
        return customiseStub(stub, custom);
    } catch (const UsageError&) {
        throw;
    } catch (const BuildError& e) {
        std::string what = e.what();
        if (what.compare(0, 4, "stub") == 0)
            throw BuildError(pathToUtf8(stubPath) + ": " + what);
        throw;
    }
}

static std::vector<uint8_t> readStub(const BuildOptions& o, const fs::path& stubPath)
{
    std::vector<uint8_t> bytes;
    std::string reason;
    if (tryReadWholeFile(stubPath, &bytes, &reason))
        return bytes;
    if (o.stub.empty())
        throw BuildError("cannot read the stub aksfx32.exe at " + pathToUtf8(stubPath)
                         + " (its default place, beside this tool): " + reason + "; --stub FILE names another");
    throw BuildError("cannot read the stub (aksfx32.exe) given with --stub, " + pathToUtf8(stubPath) + ": " + reason
                     + "; --stub FILE names another");
}

static ZipArchive readInput(const BuildOptions& o, const InputGuard& input)
{
    const fs::path inputPath = pathFromUtf8(o.input);
    ZipArchive archive;
    if (input.folder) {
        FolderPackOptions pack;
        pack.store = o.store;
        if (o.level != 0)
            pack.level = o.level;
        pack.encrypt = o.encrypt;
        pack.password = o.password;
        pack.excludes = o.excludes;
        pack.followLinks = o.followLinks;
        try {
            archive = packFolder(inputPath, pack);
        } catch (const UsageError&) {
            throw;
        } catch (const BuildError& e) {
            throw BuildError(o.input + ": " + e.what());
        }
        if (archive.entries.empty())
            throw BuildError(o.input + ": nothing to pack: the folder holds no files or folders"
                             + std::string(o.excludes.empty() ? "" : " that --exclude leaves in"));
        return archive;
    }
    std::vector<uint8_t> bytes = readWholeFile(inputPath);
    try {
        archive = readZipArchive(bytes);
    } catch (const BuildError& e) {
        throw BuildError(o.input + ": " + e.what());
    }
    if (archive.entries.empty())
        throw BuildError(o.input + ": nothing to pack: the archive holds no entries");
    return archive;
}

static void build(const BuildOptions& o, const std::string& toolFolder)
{
    fs::path inputPath = pathFromUtf8(o.input);
    std::error_code error;
    InputGuard input{o.input, fs::is_directory(inputPath, error), fs::path()};
    if (!input.folder && (o.encrypt || o.store || o.level != 0))
        throw UsageError("--encrypt, --store and --level apply to folder input only, not to a .zip file");
    if (!input.folder && (!o.excludes.empty() || o.followLinks))
        throw UsageError("--exclude and --follow-links apply to folder input only, not to a .zip file");
    std::string reason;
    input.real = realPath(inputPath, &reason);
    // A spanned set's disk folders go beside the output: inside the input when its folder is. The disks'
    // own files are checked again before they are written (writeSpannedSet).
    refuseWritingIntoInput(pathFromUtf8(o.output), o.output, input);

    fs::path stubPath = o.stub.empty() ? pathFromUtf8(toolFolder) / "aksfx32.exe" : pathFromUtf8(o.stub);
    std::vector<uint8_t> stub = customisedStub(o, stubPath, readStub(o, stubPath));

    ZipArchive archive = readInput(o, input);
    if (o.settings.flags & SFXF_RUN_AFTER)
        checkRunProgram(o.settings.runCommand, archive);
    std::vector<uint8_t> result;
    SpannedSet set;
    try {
        if (o.span != 0)
            set = buildSpannedSet(stub, archive, o.settings, o.span, o.zipVolumes);
        else
            result = buildSelfExtractor(stub, archive, o.settings);
    } catch (const UsageError&) {
        throw;
    } catch (const BuildError& e) {
        std::string what = e.what();
        if (what.compare(0, 5, "stub ") == 0)
            throw BuildError(pathToUtf8(stubPath) + ": " + what);
        throw;
    }
    if (o.span != 0)
        writeSpannedSet(pathFromUtf8(o.output), set, o.zipVolumes, input);
    else
        writeWholeFile(pathFromUtf8(o.output), result);
}

std::vector<std::string> pathWarnings(const BuildOptions& o, bool windowsTool)
{
    std::vector<std::string> warnings;
    std::string w = outputPathWarning(o.output, windowsTool);
    if (!w.empty())
        warnings.push_back(w);
    w = folderTextWarning(o.folderText);
    if (!w.empty())
        warnings.push_back(w);
    return warnings;
}

int runTool(const std::vector<std::string>& args, const std::string& toolFolder, std::ostream& out,
            std::string* errorLine, std::ostream* warnings)
{
    errorLine->clear();
    try {
        BuildOptions o = parseCommandLine(args);
        if (o.help) {
            out << helpText();
            return 0;
        }
        const std::string* password = o.passwordGiven ? &o.testPassword : nullptr;
        if (!o.testPath.empty()) {
            std::vector<uint8_t> file = readWholeFile(pathFromUtf8(o.testPath));
            TestOutcome t;
            try {
                t = testArchiveFile(file, password);
            } catch (const UsageError& e) {
                throw UsageError(o.testPath + ": " + e.what());
            } catch (const BuildError& e) {
                throw BuildError(o.testPath + ": " + e.what());
            }
            out << t.report;
            if (!t.failure.empty()) {
                *errorLine = o.testPath + ": " + t.failure;
                return 1;
            }
            return 0;
        }
        if (!o.inspectPath.empty()) {
            InspectResult r;
            std::vector<uint8_t> file = readWholeFile(pathFromUtf8(o.inspectPath));
            try {
                r = inspectSelfExtractor(file, password);
            } catch (const BuildError& e) {
                throw BuildError(o.inspectPath + ": " + e.what());
            }
            out << r.report;
            if (!r.failures.empty()) {
                *errorLine = o.inspectPath + ": does not check out: " + r.failures;
                return 1;
            }
            return 0;
        }
        if (warnings)
            for (const std::string& w : pathWarnings(o, WINDOWS_TOOL))
                *warnings << "warning: " << w << "\n";
        build(o, toolFolder);
        return 0;
    } catch (const UsageError& e) {
        *errorLine = std::string(e.what()) + " (see aksfx-build --help)";
        return 2;
    } catch (const BuildError& e) {
        *errorLine = e.what();
        return 1;
    } catch (const std::bad_alloc&) {
        *errorLine = "out of memory";
        return 1;
    } catch (const std::exception& e) {
        *errorLine = e.what();
        return 1;
    }
}
