// The private folder under Wine: the access list a real self-extracting file gives the folder it runs
// from, and the removal of a folder tree that holds links leading out of it (deleteFolderTree run in this
// program, on links made on the Linux side by make_link_fixture.sh). Extraction into target folders with
// such links below them and above them (real self-extracting files).
//
// What Wine 8 does: it keeps no access list of its own but maps the list to the Unix mode bits and reports
// one back from them, without the Administrators entry and without the protection flag. A Unix symbolic
// link to a folder is listed as a folder with FILE_ATTRIBUTE_REPARSE_POINT (reparse tag 0), a link to a
// file as a plain file, a dangling link not at all; opening either, even with FILE_FLAG_OPEN_REPARSE_POINT,
// opens the target, so every call (delete, remove, rename) acts on the target and a link cannot be removed.
#include <gtest/gtest.h>

#include <aclapi.h>
#include <sddl.h>
#include <stdio.h>

#include <algorithm>
#include <map>
#include <set>
#include <string>
#include <vector>

#include "launch/relaunch.h"
#include "test_files.h"
#include "ui_driver.h"

namespace {

bool runningUnderWine()
{
    return GetProcAddress(GetModuleHandleW(L"ntdll.dll"), "wine_get_version") != nullptr;
}

std::wstring sidText(PSID sid)
{
    wchar_t* text = nullptr;
    if (!ConvertSidToStringSidW(sid, &text))
        return L"(unreadable SID)";
    std::wstring result = text;
    LocalFree(text);
    return result;
}

std::wstring currentUserSid()
{
    HANDLE token;
    if (!OpenProcessToken(GetCurrentProcess(), TOKEN_QUERY, &token))
        return L"";
    DWORD buffer[64];
    DWORD size = 0;
    BOOL ok = GetTokenInformation(token, TokenUser, buffer, sizeof buffer, &size);
    CloseHandle(token);
    return ok ? sidText(((TOKEN_USER*)buffer)->User.Sid) : L"";
}

struct Ace {
    BYTE type;
    BYTE flags;
    ACCESS_MASK mask;
    std::wstring sid;
};

struct AccessList {
    DWORD error = ERROR_SUCCESS;
    bool present = false;
    SECURITY_DESCRIPTOR_CONTROL control = 0;
    std::vector<Ace> aces;
    std::string describe() const
    {
        char text[64];
        snprintf(text, sizeof text, "control %#x:", (unsigned)control);
        std::string out = text;
        for (const Ace& a : aces) {
            snprintf(text, sizeof text, " (type %u flags %#x mask %#lx ", a.type, a.flags, (unsigned long)a.mask);
            out += text + narrow(a.sid) + ")";
        }
        return out;
    }
};

AccessList accessListOf(const std::wstring& path)
{
    AccessList list;
    PACL dacl = nullptr;
    PSECURITY_DESCRIPTOR descriptor = nullptr;
    list.error = GetNamedSecurityInfoW(path.c_str(), SE_FILE_OBJECT, DACL_SECURITY_INFORMATION, nullptr, nullptr,
                                       &dacl, nullptr, &descriptor);
    if (list.error != ERROR_SUCCESS)
        return list;
    DWORD revision;
    GetSecurityDescriptorControl(descriptor, &list.control, &revision);
    list.present = dacl != nullptr;
    for (DWORD i = 0; dacl && i < dacl->AceCount; i++) {
        ACE_HEADER* header;
        if (!GetAce(dacl, i, (void**)&header))
            continue;
        // The allowed and denied entries share one layout: header, mask, SID.
        auto* allowed = (ACCESS_ALLOWED_ACE*)header;
        list.aces.push_back({header->AceType, header->AceFlags, allowed->Mask, sidText(&allowed->SidStart)});
    }
    LocalFree(descriptor);
    return list;
}

TEST(PrivateFolder, OnlyTheUserSystemAndAdministratorsHaveAccess)
{
    std::wstring payload = scratchFolder(L"private-acl-payload");
    ASSERT_NO_FATAL_FAILURE(writeText(payload + L"readme.txt", "inhoud\r\n"));
    std::wstring exe = scratchFolder(L"private-acl") + L"setup.exe";
    ASSERT_NO_FATAL_FAILURE(buildSfx(L"-o " + quote(exe) + L" " + quote(payload)));

    std::wstring folder;
    AccessList list;
    RunResult run = runProgram(exe, L"", [&](const SeenWindow& w, HWND h) {
        if (w.hasControl(106)) { // the main dialog: the copy is running from its private folder
            std::wstring copy = imagePathOf(w.processId);
            folder = copy.substr(0, copy.rfind(L'\\'));
            list = accessListOf(folder);
        }
        return defaultAnswer(w, h);
    });
    ASSERT_FALSE(run.timedOut) << narrow(run.describe());
    ASSERT_FALSE(folder.empty()) << narrow(run.describe());
    ASSERT_EQ(list.error, (DWORD)ERROR_SUCCESS) << narrow(folder);
    ASSERT_TRUE(list.present) << "a folder without an access list is open to everyone";

    const std::wstring user = currentUserSid();
    const std::set<std::wstring> allowed = {user, L"S-1-5-18", L"S-1-5-32-544"};
    std::set<std::wstring> seen;
    for (const Ace& a : list.aces) {
        SCOPED_TRACE(list.describe());
        EXPECT_EQ(a.type, ACCESS_ALLOWED_ACE_TYPE);
        EXPECT_TRUE(allowed.count(a.sid)) << "no access for " << narrow(a.sid);
        EXPECT_EQ(a.mask, (ACCESS_MASK)FILE_ALL_ACCESS);
        EXPECT_EQ(a.flags, OBJECT_INHERIT_ACE | CONTAINER_INHERIT_ACE)
            << "passed on to what is made inside, and not taken over from the temporary folder";
        seen.insert(a.sid);
    }
    EXPECT_TRUE(seen.count(user)) << list.describe();
    if (!runningUnderWine()) {
        // Wine reports the list back from the Unix mode bits: only the user and SYSTEM, never protected.
        EXPECT_TRUE(list.control & SE_DACL_PROTECTED) << list.describe();
        EXPECT_EQ(seen, allowed) << list.describe();
        EXPECT_EQ(list.aces.size(), 3u) << list.describe();
    }
}

std::vector<std::wstring> namesIn(const std::wstring& folder)
{
    std::vector<std::wstring> names;
    WIN32_FIND_DATAW found;
    HANDLE h = FindFirstFileW((folder + L"*").c_str(), &found);
    if (h == INVALID_HANDLE_VALUE)
        return names;
    do {
        std::wstring name = found.cFileName;
        if (name != L"." && name != L"..")
            names.push_back(name);
    } while (FindNextFileW(h, &found));
    FindClose(h);
    std::sort(names.begin(), names.end());
    return names;
}

TEST(FolderTree, LinksAreRemovedNeverFollowed)
{
    const std::wstring root = buildProgram(L"fixtures\\links\\");
    const std::wstring tree = root + L"tree\\", outside = root + L"outside\\";
    const std::vector<std::wstring> links = {L"to-empty", L"to-file", L"to-folder"};
    ASSERT_EQ(namesIn(tree), links) << "the fixture step make_link_fixture.sh has not run";
    // The ordinary entries beside the links: a read-only file and a folder with a file.
    ASSERT_NO_FATAL_FAILURE(writeText(tree + L"plain.txt", "gewoon"));
    ASSERT_NO_FATAL_FAILURE(writeText(tree + L"read-only.txt", "alleen lezen"));
    ASSERT_TRUE(SetFileAttributesW((tree + L"read-only.txt").c_str(), FILE_ATTRIBUTE_READONLY));
    ASSERT_TRUE(CreateDirectoryW((tree + L"sub").c_str(), nullptr));
    ASSERT_NO_FATAL_FAILURE(writeText(tree + L"sub\\deep.txt", "diep"));

    bool removed = deleteFolderTree(tree.c_str());

    for (const wchar_t* kept : {L"full\\a.txt", L"full\\inner\\b.txt", L"full\\inner", L"empty", L"kept.txt"})
        EXPECT_TRUE(exists(outside + kept)) << "a link's target lost " << narrow(kept);
    if (runningUnderWine()) {
        // Wine cannot remove a link by itself: the links stay, and only they.
        EXPECT_FALSE(removed);
        EXPECT_EQ(namesIn(tree), links);
    } else {
        EXPECT_TRUE(removed);
        EXPECT_FALSE(exists(tree));
    }
}

// Below the target folder, extraction never goes through a link: a folder link refuses the entry that
// would go into it (with a folder entry before it or without), and a link where a file goes is replaced by
// the file, its target left alone (Windows, which shows such a link, refuses the entry). The target
// folder itself, and a folder above it, may be links.
TEST(Extraction, NeverWritesThroughALinkBelowTheTarget)
{
    const std::wstring root = buildProgram(L"fixtures\\links\\extract\\");
    const std::wstring outside = root + L"outside\\";
    ASSERT_TRUE(exists(root + L"deep.zip")) << "the fixture step make_link_fixture.sh has not run";
    // Where Wine replaces a link to a file, the link's name holds the entry's file.
    using Files = std::vector<std::pair<std::wstring, std::string>>;
    const std::wstring fileRefused = runningUnderWine() ? L"" : L"Kan uitvoerbestand niet maken: %P";
    const Files replaced = runningUnderWine() ? Files{{L"doel\\a.txt", "a"}} : Files{};
    struct Case {
        const char* what;
        const wchar_t* folder; // the case's folder below the fixture
        const wchar_t* target; // relative to it
        const wchar_t* input;  // a ZIP archive of the fixture, or empty: a payload folder of a.txt and sub\b.txt
        std::wstring message;  // the one box expected, with %P for the path it names
        const wchar_t* named;  // relative to the target
        Files present;         // relative to the case's folder
    } cases[] = {
        {"a folder link, reached by its folder entry", L"folder-link", L"doel", L"",
         L"Kan '%P' niet maken - uitpakbewerking geannuleerd.", L"sub", {{L"doel\\a.txt", "a"}}},
        {"a folder link deeper down, reached by a file entry alone", L"deep-link", L"doel", L"deep.zip",
         L"Kan '%P' niet maken - uitpakbewerking geannuleerd.", L"x\\sub", {{L"doel\\x\\a.txt", "a\r\n"}}},
        {"a link to a file", L"file-link", L"doel", L"", fileRefused, L"a.txt", replaced},
        {"a link to nothing", L"dangling", L"doel", L"", fileRefused, L"a.txt", replaced},
        {"the target folder a link", L"linked-target", L"doel", L"", L"", L"",
         {{L"echt\\a.txt", "a"}, {L"echt\\sub\\b.txt", "b"}}},
        {"a folder above the target a link", L"linked-above", L"boven\\doel", L"", L"", L"",
         {{L"echt\\doel\\a.txt", "a"}, {L"echt\\doel\\sub\\b.txt", "b"}}},
    };
    // One file for each input, with overwriting on.
    const std::wstring dir = scratchFolder(L"link-extract");
    ASSERT_TRUE(CreateDirectoryW((dir + L"payload").c_str(), nullptr));
    ASSERT_TRUE(CreateDirectoryW((dir + L"payload\\sub").c_str(), nullptr));
    ASSERT_NO_FATAL_FAILURE(writeText(dir + L"payload\\a.txt", "a"));
    ASSERT_NO_FATAL_FAILURE(writeText(dir + L"payload\\sub\\b.txt", "b"));
    std::map<std::wstring, std::wstring> made; // input name -> file
    for (const Case& c : cases) {
        if (made.count(c.input))
            continue;
        std::wstring exe = dir + L"setup" + std::to_wstring(made.size()) + L".exe";
        std::wstring input = c.input[0] ? root + c.input : dir + L"payload";
        ASSERT_NO_FATAL_FAILURE(buildSfx(L"--overwrite -o " + quote(exe) + L" " + quote(input)));
        made[c.input] = exe;
    }
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        const std::wstring caseFolder = root + c.folder + L"\\", target = caseFolder + c.target;
        RunResult run = runProgram(made[c.input], L" /AUTO " + quote(target));
        ASSERT_FALSE(run.timedOut) << narrow(run.describe());
        std::vector<std::wstring> boxes;
        for (const SeenWindow& w : run.seen)
            if (w.isMessageBox())
                boxes.push_back(w.text);
        std::wstring message = c.message;
        if (size_t at = message.find(L"%P"); at != std::wstring::npos)
            message.replace(at, 2, target + L"\\" + c.named);
        EXPECT_EQ(boxes, message.empty() ? std::vector<std::wstring>{} : std::vector<std::wstring>{message})
            << narrow(run.describe());
        EXPECT_EQ(run.exitCode, message.empty() ? 0u : 1u) << narrow(run.describe());
        for (const auto& [name, content] : c.present) {
            std::vector<uint8_t> bytes = readWhole(caseFolder + name);
            EXPECT_EQ(std::string(bytes.begin(), bytes.end()), content) << narrow(name);
        }
        EXPECT_EQ(namesIn(outside), (std::vector<std::wstring>{L"buiten.txt", L"map"})) << "nothing made outside";
        EXPECT_TRUE(namesIn(outside + L"map\\").empty()) << "nothing written through a folder link";
        std::vector<uint8_t> kept = readWhole(outside + L"buiten.txt");
        EXPECT_EQ(std::string(kept.begin(), kept.end()), "buiten\r\n") << "a file link's target is left alone";
    }
}

} // namespace
