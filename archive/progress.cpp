// Progress, write checks and cancellation. The run executes inside the dialog's command handler. The
// decoder hands over its output 2048 bytes at a time; the bytes are counted and checksummed at once and
// collected into a piece of WRITE_PIECE_BYTES, which is written when it is full and at the end of the
// entry. The message queue is emptied every POLL_INTERVAL_MS (after a piece, an input piece or an entry,
// whichever comes first once the time has passed) and once at the end of the run; a click or key press on
// the dialog then becomes the question whether to stop.
//
// Under Wine every call that reaches the window system or the file system is a round trip to wineserver,
// which costs as much as decoding tens of kilobytes: the clock, not the byte count or the entry count,
// decides when the queue is looked at, when the meter is repainted and when the status line changes.
#include "progress.h"

#include <windows.h>
#include <io.h>
#include <string.h>

#include "../decode/inflate.h"
#include "../startup/messages.h"
#include "../startup/payload.h"
#include "../startup/sfxhead.h"
#include "../startup/text_format.h"
#include "../ui/meter.h"
#include "extract.h"
#include "path_rules.h"
#include "walk.h"

uint32_t bytesDone;
uint32_t lastMeterBytes;
int meterVisible;

// Output counted and checksummed but not yet written.
static uint8_t writePiece[WRITE_PIECE_BYTES];
static uint32_t writePieceCount;
static_assert(WRITE_PIECE_BYTES % OUTPUT_BUFFER_SIZE == 0, "full output buffers fill a piece exactly");

// The clock: performance-counter ticks; the moments at which the next poll, meter repaint and status
// refresh are due.
static int64_t ticksPerMs = 1;
static int64_t pollDue, meterDue, statusDue;

// The status line's text for the entry at hand, made when the entry came up (entryPath changes while its
// folders are made); statusBehind: the status line does not show it yet.
static wchar_t statusText[STATUS_TEXT_UNITS];
static bool statusBehind;

static int64_t clockNow()
{
    LARGE_INTEGER now;
    QueryPerformanceCounter(&now);
    return now.QuadPart;
}

void beginProgress()
{
    LARGE_INTEGER frequency;
    ticksPerMs = QueryPerformanceFrequency(&frequency) && frequency.QuadPart >= 1000 ? frequency.QuadPart / 1000 : 1;
    int64_t now = clockNow();
    pollDue = now + POLL_INTERVAL_MS * ticksPerMs;
    meterDue = statusDue = now;
    writePieceCount = 0;
    // Until the first entry comes up, the meter shows the text as it stands.
    formatStatusText(statusText, STATUS_TEXT_UNITS);
    statusBehind = false;
}

void formatStatusText(wchar_t* buffer, uint32_t capacity)
{
    if (formatText(buffer, capacity, loadText(IDS_EXTRACTING), fileNamePart(entryPath)) < 0)
        internalError(SFX_MODULE_NAME, __LINE__);
}

static void setMeterPosition()
{
    SendDlgItemMessageW(mainDialogWindow, METER_CONTROL, METER_SETPOS,
                        (WPARAM)(meterPosition(bytesDone, parameterBlock.totalSize) & 0xFFFF), 0);
}

// While the meter is shown it carries the status text: it is repainted instead (METER_SETPOS paints).
static void refreshStatus()
{
    statusBehind = false;
    statusDue = clockNow() + STATUS_INTERVAL_MS * ticksPerMs;
    if (meterVisible) {
        setMeterPosition();
        return;
    }
    SetDlgItemTextW(mainDialogWindow, STATUS_LINE, statusText);
    InvalidateRect(GetDlgItem(mainDialogWindow, STATUS_LINE), nullptr, FALSE);
}

void showStatus()
{
    formatStatusText(statusText, STATUS_TEXT_UNITS);
    statusBehind = true;
    // The meter, while shown, names the entry at its next repaint.
    if (!meterVisible && clockNow() >= statusDue)
        refreshStatus();
}

void showStatusNow()
{
    if (statusBehind)
        refreshStatus();
}

static bool isAbortRequest(const MSG& message)
{
    switch (message.message) {
    case WM_KEYDOWN:
    case WM_LBUTTONDOWN:
    case WM_LBUTTONDBLCLK:
    case WM_NCLBUTTONDOWN:
    case WM_NCLBUTTONDBLCLK:
    case 0x2E: // WM_VKEYTOCHAR
        return true;
    case WM_CHAR:
        return (message.lParam & 0x80000000) != 0;
    }
    return false;
}

static bool pollMessages()
{
    MSG message;
    while (PeekMessageW(&message, nullptr, 0, 0, PM_REMOVE)) {
        if (message.message == WM_SETCURSOR || message.message == WM_MOUSEMOVE
            || message.message == WM_NCMOUSEMOVE) {
            SetCursor(waitCursor);
            continue;
        }
        if (!isAbortRequest(message)) {
            // A character message that is no abort request is dropped; everything else goes on as usual.
            if (message.message != WM_CHAR) {
                TranslateMessage(&message);
                DispatchMessageW(&message);
            }
            continue;
        }
        if (message.hwnd != mainDialogWindow && GetParent(message.hwnd) != mainDialogWindow)
            continue;
        showStatusNow();
        return showMessage(IDS_ASK_ABORT, loadText(IDS_ASK_ABORT), MB_YESNO | MB_ICONQUESTION | MB_DEFBUTTON2) == IDYES;
    }
    return false;
}

void pollNow()
{
    bool stop = pollMessages();
    pollDue = clockNow() + POLL_INTERVAL_MS * ticksPerMs;
    if (stop)
        abortRun();
}

void pollWhenDue()
{
    int64_t now = clockNow();
    if (now < pollDue)
        return;
    if (statusBehind && !meterVisible && now >= statusDue)
        refreshStatus();
    pollNow();
}

// The meter moves at most once per METER_STEP_BYTES and METER_INTERVAL_MS.
static void progressStep(uint32_t n)
{
    bytesDone += n;
    if (bytesDone - lastMeterBytes < METER_STEP_BYTES)
        return;
    int64_t now = clockNow();
    if (now < meterDue)
        return;
    lastMeterBytes = bytesDone;
    meterDue = now + METER_INTERVAL_MS * ticksPerMs;
    if (meterVisible)
        setMeterPosition();
}

// Writes the collected bytes; false when the system wrote fewer.
static bool writeCollected()
{
    uint32_t n = writePieceCount;
    writePieceCount = 0;
    return n == 0 || _write(outputFile, writePiece, n) == (int)n;
}

static void writePieceOut()
{
    uint32_t n = writePieceCount;
    if (!writeCollected()) {
        showStatusNow();
        fatalMessage(IDS_WRITE_ERROR, formatMessageText(__LINE__, loadText(IDS_WRITE_ERROR), entryPath));
    }
    progressStep(n);
    pollWhenDue();
}

// Counts, checksums and collects the output buffer's bytes. Full buffers fill a piece exactly and a full
// piece is written at once, so the last, partial buffer of an entry always fits.
static void collectOutput()
{
    uint32_t n = inflateIo.outputCount;
    if (n > WRITE_PIECE_BYTES - writePieceCount)
        internalError(SFX_MODULE_NAME, __LINE__);
    countEntryOutput(n);
    crc32Update(outputBuffer, n);
    memcpy(writePiece + writePieceCount, outputBuffer, n);
    writePieceCount += n;
    inflateIo.outputCount = 0;
}

void flushOutputBuffer()
{
    collectOutput();
    if (writePieceCount == WRITE_PIECE_BYTES)
        writePieceOut();
}

void finishOutput()
{
    collectOutput();
    if (writePieceCount > 0)
        writePieceOut();
}

void writePendingOutput()
{
    if (outputFile != -1)
        writeCollected();
    writePieceCount = 0;
}

void dropPendingOutput()
{
    writePieceCount = 0;
}

const wchar_t* statusTextAtHand()
{
    return statusText;
}
