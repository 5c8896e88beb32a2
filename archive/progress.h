// Progress while writing: status text, meter steps, output pieces and their write checks, and the cancel
// question.
#ifndef AKSFX_PROGRESS_H
#define AKSFX_PROGRESS_H

#include <stdint.h>

enum : int { STATUS_LINE = 109, METER_CONTROL = 201, STATUS_TEXT_UNITS = 290 };

// Each Win32 call that reaches the window system or the file system costs far more under Wine than the
// work between them, so the run does them by the clock and in large pieces, not per buffer or per file.
enum : uint32_t {
    WRITE_PIECE_BYTES = 65536, // output is written in pieces of this size (the last one of a file shorter)
    POLL_INTERVAL_MS = 15,     // the message queue is looked at once this much time has passed...
    METER_INTERVAL_MS = 50,    // ...the meter is repainted at most this often...
    METER_STEP_BYTES = 65536,  // ...and only after this many more bytes...
    STATUS_INTERVAL_MS = 100,  // ...and the status line names a new entry at most this often
};

extern uint32_t bytesDone;
extern uint32_t lastMeterBytes;
extern int meterVisible;

// Starts the clocks of a run.
void beginProgress();
// The entry in entryPath (its output path) is at hand: the status line names it, now or, when it did so
// less than STATUS_INTERVAL_MS ago, within that time.
void showStatus();
// Before a prompt or a message: the status line (or the meter, while it is shown) names the entry at hand.
void showStatusNow();
// "Bezig met uitpakken van <file name>" for the name in entryPath.
void formatStatusText(wchar_t* buffer, uint32_t capacity);
// The status text of the entry at hand, which the meter shows while it replaces the status line.
const wchar_t* statusTextAtHand();

// The decoder's flush: counts, checksums and collects the output buffer; writes every full piece.
void flushOutputBuffer();
// The end of an entry's data: the rest of the output buffer and of the piece go to the file.
void finishOutput();
// After a stop: bytes that were counted but not yet written go to the file (a failed write is ignored),
// so that a partly written file holds everything that was decoded before the stop.
void writePendingOutput();
// After a cancel: bytes not yet written are dropped with the file they were for.
void dropPendingOutput();

// Looks at the message queue when POLL_INTERVAL_MS have passed since it was last looked at (and refreshes
// a status line that is behind). Ends the run on a confirmed cancel.
void pollWhenDue();
// Looks at the message queue now (the end of a run).
void pollNow();

#endif
