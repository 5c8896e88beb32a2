#include "report.h"

#include "text_format.h"

bool composeReport(const ReportFacts* facts, const ReportFormats* formats, wchar_t* out, uint32_t capacity)
{
    wchar_t line[600];
    bool ok = copyText(out, capacity, facts->headline) && appendText(out, capacity, L"\r\n");
    ok = ok && formatText(line, 600, formats->date, facts->month, facts->day, facts->year, facts->hour,
                          facts->minute) >= 0
         && appendText(out, capacity, line);
    ok = ok && formatText(line, 600, formats->module, facts->modulePath) >= 0 && appendText(out, capacity, line);
    ok = ok && formatText(line, 600, formats->version, facts->majorVersion, facts->minorVersion) >= 0
         && appendText(out, capacity, line);
    ok = ok && appendText(out, capacity, facts->windowsNt ? formats->windowsNt : formats->windows9x);
    const struct {
        const wchar_t* format;
        unsigned long value;
    } memory[] = {
        {formats->memoryLoad, facts->memoryLoad},
        {formats->totalPhysical, facts->totalPhysical >> 10},
        {formats->availablePhysical, facts->availablePhysical >> 10},
        {formats->totalVirtual, facts->totalVirtual >> 10},
        {formats->availableVirtual, facts->availableVirtual >> 10},
    };
    for (const auto& m : memory)
        ok = ok && formatText(line, 600, m.format, (long)m.value) >= 0 && appendText(out, capacity, line);
    return ok;
}
