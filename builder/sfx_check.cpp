#include "sfx_check.h"

#include <stdio.h>

#include "../decode/crc32.h"
#include "../startup/payload_format.h"
#include "archive_check.h"
#include "build_error.h"
#include "pe_image.h"
#include "pe_resources.h"
#include "resource_report.h"
#include "sfx_writer.h"
#include "unicode_text.h"
#include "zip_model.h"

static std::string hex(uint32_t v)
{
    char buffer[16];
    snprintf(buffer, sizeof buffer, "0x%08X", v);
    return buffer;
}

std::string flagNames(uint32_t flags)
{
    static const struct {
        uint32_t mask;
        const char* name;
    } names[] = {
        {SFXF_OVERWRITE_DEFAULT, "SFXF_OVERWRITE_DEFAULT"}, {SFXF_HAS_CAPTION, "SFXF_HAS_CAPTION"},
        {SFXF_ASK_PASSWORD, "SFXF_ASK_PASSWORD"},           {SFXF_AUTO, "SFXF_AUTO"},
        {SFXF_CRC_AFTER_HEADERS, "SFXF_CRC_AFTER_HEADERS"}, {SFXF_SPANNED, "SFXF_SPANNED"},
        {SFXF_EXE_VOLUMES, "SFXF_EXE_VOLUMES"},             {SFXF_SETUP_TITLE, "SFXF_SETUP_TITLE"},
        {SFXF_STARTUP_ASK, "SFXF_STARTUP_ASK"},             {SFXF_STARTUP_OKCANCEL, "SFXF_STARTUP_OKCANCEL"},
        {SFXF_RUN_AFTER, "SFXF_RUN_AFTER"},                 {SFXF_RUN_WAIT, "SFXF_RUN_WAIT"},
        {SFXF_SILENT, "SFXF_SILENT"},
    };
    std::string out;
    uint32_t rest = flags;
    for (const auto& n : names) {
        if (flags & n.mask) {
            out += (out.empty() ? "" : " ") + std::string(n.name);
            rest &= ~n.mask;
        }
    }
    if (rest)
        out += (out.empty() ? "" : " ") + hex(rest);
    return out.empty() ? "(none)" : out;
}

// The five texts as stored, without the stub's buffer limits; false when a terminator is missing.
static bool readHeaderTexts(const uint8_t* data, uint32_t length, std::u16string texts[5])
{
    uint32_t pos = 0;
    for (int i = 0; i < 5; i++) {
        for (;;) {
            if (pos + 2 > length)
                return false;
            char16_t c = readLe16(data + pos);
            pos += 2;
            if (c == 0)
                break;
            texts[i].push_back(c);
        }
    }
    return true;
}

// The entries and their data check; adds to failed what does not check out.
static void reportEntries(const std::vector<uint8_t>& file, uint32_t archiveOffset, bool listable,
                          const std::string& whyNot, const std::string* password, std::string& r,
                          std::vector<std::string>& failed)
{
    r += "entries\n";
    if (!listable) {
        r += "  not listed: " + whyNot + "\n";
        return;
    }
    try {
        ArchiveCheck check = checkArchive(file, archiveOffset, password);
        for (const std::string& line : check.lines)
            r += line + "\n";
        r += "  " + check.summary() + "\n";
        if (check.damaged != 0)
            failed.push_back("entry data (" + check.firstDamage + ")");
    } catch (const BuildError& e) {
        r += "  FAILED: " + std::string(e.what()) + "\n";
        failed.push_back("archive (" + std::string(e.what()) + ")");
    }
}

// Resources and signature: shown, not checked (the stub reads neither).
static void reportResources(const std::vector<uint8_t>& file, std::string& r)
{
    r += "resources\n";
    try {
        std::vector<Resource> resources = readResources(file);
        r += "  " + iconGroupLine(resources) + "\n";
        const Resource* version = nullptr;
        const Resource* manifest = nullptr;
        for (const Resource& res : resources) {
            if (res.type.isNumber(RES_TYPE_VERSION) && !version)
                version = &res;
            if (res.type.isNumber(RES_TYPE_MANIFEST) && !manifest)
                manifest = &res;
        }
        if (version)
            for (const std::string& line : versionLines(version->data))
                r += "  version: " + line + "\n";
        else
            r += "  version: none\n";
        r += "  execution level: " + (manifest ? executionLevel(manifest->data) : "(no manifest: asInvoker)") + "\n";
    } catch (const BuildError& e) {
        r += "  not readable: " + std::string(e.what()) + "\n";
    }
    try {
        PeLayout pe = parsePe(file);
        if (pe.certificateSize != 0)
            r += "  signature: present (a certificate table of " + std::to_string(pe.certificateSize) + " bytes at "
                 + hex(pe.certificateOffset) + ")\n";
        else
            r += "  signature: none\n";
    } catch (const BuildError&) {
        r += "  signature: unknown (PE headers not readable)\n";
    }
}

InspectResult inspectSelfExtractor(const std::vector<uint8_t>& file, const std::string* password)
{
    buildCrcTable();
    InspectResult result;
    std::string& r = result.report;
    std::vector<std::string> failed;
    const uint32_t size = file.size() > 0xFFFFFFFFu ? 0xFFFFFFFFu : (uint32_t)file.size();

    long block = findBlockSignature(file.data(), size, blockSignature);
    if (block < 0 || (uint64_t)block + sizeof(StubParameterBlock) > size)
        throw BuildError("no parameter block (its signature is not in the file)");
    const uint8_t* b = &file[block];
    const uint32_t headerCrc = readLe32(b + 8);
    const uint32_t archiveOffset = readLe32(b + 12);
    const uint32_t headerOffset = readLe32(b + 16);
    const uint32_t endRecordOffset = readLe32(b + 20);
    const uint32_t flags = readLe32(b + 28);
    const uint16_t completeMarker = readLe16(b + 42);
    const uint32_t entryPoint = readLe32(b + 54);

    r += "parameter block at " + hex((uint32_t)block) + "\n";
    r += "  headerCrc        " + hex(headerCrc) + "\n";
    r += "  archiveOffset    " + hex(archiveOffset) + "\n";
    r += "  headerOffset     " + hex(headerOffset) + "\n";
    r += "  endRecordOffset  " + hex(endRecordOffset) + "\n";
    r += "  totalSize        " + std::to_string(readLe32(b + 24)) + "\n";
    r += "  flags            " + hex(flags) + " " + flagNames(flags) + "\n";
    r += "  completeMarker   " + hex(completeMarker) + "\n";
    r += "  entryPoint       " + hex(entryPoint) + "\n";

    static const char* const labels[5] = {"folder ", "run    ", "message", "caption", "info   "};
    r += "header texts\n";
    if (headerOffset == 0) {
        r += "  none (headerOffset 0)\n";
    } else if (headerOffset > archiveOffset || archiveOffset > size) {
        r += "  header range " + hex(headerOffset) + ".." + hex(archiveOffset) + " is outside the file\n";
        failed.push_back("header texts");
    } else {
        std::u16string texts[5];
        bool complete = readHeaderTexts(&file[headerOffset], archiveOffset - headerOffset, texts);
        for (int i = 0; i < 5; i++)
            r += "  " + std::to_string(i + 1) + " " + labels[i] + "  \"" + utf16ToUtf8(texts[i]) + "\"\n";
        SfxTexts parsed;
        if (!complete || !parseSfxHeader(&file[headerOffset], archiveOffset - headerOffset,
                                         (flags & SFXF_HAS_CAPTION) != 0, &parsed)) {
            r += "  the stub refuses this header (too long, a text over its buffer, or a missing terminator)\n";
            failed.push_back("header texts");
        }
    }

    r += "checks\n";
    if (completeMarker == 0) {
        r += "  complete marker: FAILED (0: the stub reports an unfinished file)\n";
        failed.push_back("complete marker");
    }
    if (headerCrc == 0) {
        r += "  header CRC:      not checked (headerCrc 0)\n";
    } else {
        uint32_t computed = 0;
        bool after = (flags & SFXF_CRC_AFTER_HEADERS) != 0;
        bool ok = archiveOffset != 0 && archiveOffset <= size
                  && computeHeaderCrc(file.data(), archiveOffset, blockSignature, after, &computed);
        std::string range = after ? "from the section table" : "from offset 0";
        if (ok && computed == headerCrc) {
            r += "  header CRC:      ok (" + range + " to " + hex(archiveOffset) + ")\n";
        } else {
            r += "  header CRC:      FAILED (" + range + " to " + hex(archiveOffset) + ": "
                 + (ok ? "computed " + hex(computed) : std::string("range not usable")) + ")\n";
            failed.push_back("header CRC");
        }
    }
    uint32_t peOffset = size >= 64 ? readLe32(&file[PE_NEW_HEADER_FIELD]) : 0;
    if (size >= 64 && peOffset <= size && size - peOffset >= PE_NT_HEADERS_SIZE
        && readLe32(&file[peOffset + PE_ENTRY_POINT_FIELD]) == entryPoint) {
        r += "  entry point:     ok\n";
    } else {
        r += "  entry point:     FAILED (the PE header does not hold " + hex(entryPoint) + ")\n";
        failed.push_back("entry point");
    }
    bool endRecordFailed = false;
    if (flags & SFXF_SPANNED) {
        r += "  end record:      not checked (spanned set)\n";
    } else if (endRecordOffset == 0) {
        r += "  end record:      not checked (endRecordOffset 0)\n";
    } else {
        uint32_t sig = endRecordOffset <= size && size - endRecordOffset >= 4 ? readLe32(&file[endRecordOffset]) : 0;
        if (sig == ZIP_END_SIGNATURE || sig == 0x05054B50) {
            r += "  end record:      ok\n";
        } else {
            r += "  end record:      FAILED (no end record signature at " + hex(endRecordOffset) + ")\n";
            failed.push_back("end record");
            endRecordFailed = true;
        }
    }

    // Not checked by the stub, shown for completeness.
    try {
        PeLayout pe = parsePe(file);
        uint32_t stored = readLe32(&file[pe.checksumOffset]);
        uint32_t computed = peChecksum(file.data(), file.size(), pe.checksumOffset);
        r += "  PE checksum:     " + hex(stored) + (stored == computed ? " (matches)" : " (differs: computed " + hex(computed) + ")")
             + "\n";
        r += "  last section:    " + pe.sections.back().name + "\n";
    } catch (const BuildError&) {
        r += "  PE headers:      not readable\n";
    }

    std::string whyNot;
    if (flags & SFXF_SPANNED)
        whyNot = "the archive of a spanned set lies on its disks";
    else if (completeMarker == 0 || archiveOffset == 0)
        whyNot = "the file holds no archive";
    else if (endRecordFailed)
        whyNot = "the end record check failed";
    reportEntries(file, archiveOffset, whyNot.empty(), whyNot, password, r, failed);
    reportResources(file, r);

    for (const std::string& f : failed)
        result.failures += (result.failures.empty() ? "" : ", ") + f;
    return result;
}
