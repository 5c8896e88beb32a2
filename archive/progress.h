// Progress while writing: status text, meter steps, write checks, and the cancel question.
#ifndef AKSFX_PROGRESS_H
#define AKSFX_PROGRESS_H

#include <stdint.h>

enum : int { STATUS_LINE = 109, METER_CONTROL = 201, STATUS_TEXT_UNITS = 290 };

extern uint32_t bytesDone;
extern uint32_t lastMeterBytes;
extern int meterVisible;

void showStatus();
// "Bezig met uitpakken van <file name>" for the current entry.
void formatStatusText(wchar_t* buffer, uint32_t capacity);
// Writes the full output buffer: progress, CRC, write, write check.
void flushOutputBuffer();
// result: the count written or -1. Ends the run on a short write or a confirmed cancel.
void checkWrite(int result);

#endif
