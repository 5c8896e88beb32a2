// Fuzzes the rules that read untrusted bytes before and around extraction: the SfxHeader, the header
// CRC over a file prefix, entry names and the paths made from them, volume labels and the command line.
// Besides running clean under the sanitizers it checks that an accepted entry name always lands below
// the target folder.
#include <stdint.h>
#include <stdlib.h>
#include <string.h>

#include <string>

#include "archive/path_rules.h"
#include "archive/volume_rules.h"
#include "decode/crc32.h"
#include "startup/command_line.h"
#include "startup/payload_format.h"

static std::wstring wideFrom(const uint8_t* data, size_t size)
{
    std::wstring text;
    for (size_t i = 0; i + 1 < size; i += 2)
        text += (wchar_t)(data[i] | (data[i + 1] << 8));
    return text;
}

// True when a component of the path is "." or "..".
static bool climbs(const wchar_t* path)
{
    for (const wchar_t* start = path;; ) {
        const wchar_t* end = wcschr(start, L'\\');
        size_t n = end ? (size_t)(end - start) : wcslen(start);
        if ((n == 1 && start[0] == L'.') || (n == 2 && start[0] == L'.' && start[1] == L'.'))
            return true;
        if (!end)
            return false;
        start = end + 1;
    }
}

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size)
{
    static bool ready = (buildCrcTable(), true);
    (void)ready;
    if (size < 1)
        return 0;
    uint8_t mode = data[0];
    data++;
    size--;

    SfxTexts texts;
    parseSfxHeader(data, (uint32_t)size, mode & 1, &texts);

    static const uint8_t signature[8] = SFX_BLOCK_SIGNATURE_BYTES;
    uint32_t crc;
    computeHeaderCrc(data, (uint32_t)size, signature, mode & 2, &crc);

    std::wstring text = wideFrom(data, size < 1200 ? size : 1200);
    if (entryNameIsSafe(text.c_str())) {
        static const wchar_t folder[] = L"C:\\Target\\";
        wchar_t out[OUTPUT_PATH_MAX + 1];
        if (joinOutputPath(folder, text.c_str(), out)) {
            if (wcsncmp(out, folder, wcslen(folder)) != 0 || wcschr(out + 2, L':') || climbs(out))
                abort();
            folderScanStart(out);
        }
    }
    folderScanStart(text.c_str());
    fileNamePart(text.c_str());
    parseVolumeLabel(text.c_str());
    wchar_t volume[261];
    volumeFileName(text.c_str(), mode & 4, volume, 261);

    scanInfoAndParent(text.c_str());
    const wchar_t* rest = nullptr;
    findAutoSwitch(&text[0], L"AUTO", L"NOAUTO", &rest);
    return 0;
}
