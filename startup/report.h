// The text of the internal-error report, composed from the facts of the moment and the string table's
// format texts. Written UTF-16LE, without byte-order mark or terminator.
#ifndef AKSFX_REPORT_H
#define AKSFX_REPORT_H

#include <stdint.h>
#include <wchar.h>

struct ReportFacts {
    const wchar_t* headline;   // the internal-error text shown in the box
    int month, day, year, hour, minute; // UTC
    const wchar_t* modulePath;
    int majorVersion, minorVersion;
    bool windowsNt;            // 5.1 or later
    unsigned long memoryLoad;  // per cent
    unsigned long totalPhysical, availablePhysical, totalVirtual, availableVirtual; // bytes
};

struct ReportFormats {
    const wchar_t* date;      // month, day, year, hour, minute
    const wchar_t* module;    // path
    const wchar_t* version;   // major, minor
    const wchar_t* windowsNt;
    const wchar_t* windows9x;
    const wchar_t* memoryLoad;
    const wchar_t* totalPhysical; // each memory figure in KiB
    const wchar_t* availablePhysical;
    const wchar_t* totalVirtual;
    const wchar_t* availableVirtual;
};

// Composes the whole report into out; false when it does not fit capacity units.
bool composeReport(const ReportFacts* facts, const ReportFormats* formats, wchar_t* out, uint32_t capacity);

#endif
