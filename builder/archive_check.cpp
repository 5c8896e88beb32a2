#include "archive_check.h"

#include <stdio.h>

#include "../decode/crc32.h"
#include "../startup/payload_format.h"
#include "build_error.h"
#include "sfx_writer.h"
#include "unicode_text.h"
#include "zip_model.h"
#include "zip_reader.h"

static std::string methodName(uint16_t method)
{
    if (method == ZIP_METHOD_STORED)
        return "stored";
    if (method == ZIP_METHOD_DEFLATED)
        return "deflated";
    return "method " + std::to_string(method);
}

std::string ArchiveCheck::summary() const
{
    return std::to_string(ok + notChecked + damaged) + " entries: " + std::to_string(ok) + " ok, "
           + std::to_string(damaged) + " damaged, " + std::to_string(notChecked) + " not checked (encrypted)";
}

static std::string hex(uint32_t v)
{
    char buffer[16];
    snprintf(buffer, sizeof buffer, "0x%08X", v);
    return buffer;
}

ArchiveCheck checkArchive(const std::vector<uint8_t>& file, uint32_t archiveStart, const std::string* password)
{
    ArchiveCheck check;
    ZipDirectory directory = readZipDirectory(file);
    if (archiveStart != 0 && !directory.entries.empty() && directory.entries[0].localOffset != archiveStart)
        throw BuildError("the archive's first entry lies at " + hex((uint32_t)directory.entries[0].localOffset)
                         + ", not at " + hex(archiveStart) + " where the parameter block says the stub begins");
    for (const ZipEntryPlace& place : directory.entries) {
        const ZipEntry& e = place.entry;
        const bool encrypted = (e.flags & ZIP_FLAG_ENCRYPTED) != 0;
        std::string line = "  " + quotedForMessage(e.name) + "  ";
        if (isFolderEntryName(e.name))
            line += "folder";
        else
            line += std::to_string(e.uncompressedSize) + " bytes, " + std::to_string(place.compressedSize)
                    + " compressed, " + methodName(e.method) + (encrypted ? ", encrypted" : "");
        std::string problem = entryDataProblem(file, place, password);
        if (!problem.empty()) {
            line += ": DAMAGED: " + problem;
            if (check.damaged++ == 0)
                check.firstDamage = problem;
        } else if (encrypted && !password) {
            line += ", data not checked (no --password)";
            check.notChecked++;
        } else {
            line += ": ok";
            check.ok++;
        }
        check.lines.push_back(line);
    }
    return check;
}

TestOutcome testArchiveFile(const std::vector<uint8_t>& file, const std::string* password)
{
    buildCrcTable();
    uint32_t archiveStart = 0;
    const uint32_t size = file.size() > 0xFFFFFFFFu ? 0xFFFFFFFFu : (uint32_t)file.size();
    if (size >= 2 && file[0] == 'M' && file[1] == 'Z') {
        long block = findBlockSignature(file.data(), size, blockSignature);
        if (block >= 0 && (uint64_t)block + sizeof(StubParameterBlock) <= size) {
            if (readLe32(&file[block + 28]) & SFXF_SPANNED)
                throw UsageError("--test does not read spanned sets: the archive lies on the other disks too");
            archiveStart = readLe32(&file[block + 12]);
        }
    }
    ArchiveCheck check = checkArchive(file, archiveStart, password);
    TestOutcome outcome;
    for (const std::string& line : check.lines)
        outcome.report += line + "\n";
    outcome.report += check.summary() + "\n";
    if (check.damaged != 0)
        outcome.failure = std::to_string(check.damaged) + " of " + std::to_string(check.lines.size())
                          + " entries damaged, the first: " + check.firstDamage;
    return outcome;
}
