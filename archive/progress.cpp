// Progress, write checks and cancellation. The run executes inside the dialog's command handler; after
// every write the message queue is emptied, and a click or key press on the dialog becomes the
// question whether to stop.
#include "progress.h"

#include <windows.h>
#include <io.h>

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

void formatStatusText(wchar_t* buffer, uint32_t capacity)
{
    if (formatText(buffer, capacity, loadText(IDS_EXTRACTING), fileNamePart(entryPath)) < 0)
        internalError(SFX_MODULE_NAME, __LINE__);
}

void showStatus()
{
    if (meterVisible)
        return;
    wchar_t text[STATUS_TEXT_UNITS];
    formatStatusText(text, STATUS_TEXT_UNITS);
    SetDlgItemTextW(mainDialogWindow, STATUS_LINE, text);
    InvalidateRect(GetDlgItem(mainDialogWindow, STATUS_LINE), nullptr, FALSE);
}

static void progressStep(uint32_t n)
{
    bytesDone += n;
    if (bytesDone - lastMeterBytes < 65536)
        return;
    lastMeterBytes = bytesDone;
    if (meterVisible)
        SendDlgItemMessageW(mainDialogWindow, METER_CONTROL, METER_SETPOS,
                            (WPARAM)(meterPosition(bytesDone, parameterBlock.totalSize) & 0xFFFF), 0);
    InvalidateRect(GetDlgItem(mainDialogWindow, METER_CONTROL), nullptr, FALSE);
    UpdateWindow(mainDialogWindow);
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
        return showMessage(loadText(IDS_ASK_ABORT), MB_YESNO | MB_ICONQUESTION | MB_DEFBUTTON2) == IDYES;
    }
    return false;
}

void checkWrite(int result)
{
    if (result == -1 || (uint32_t)result != inflateIo.outputCount)
        fatalMessage(formatMessageText(__LINE__, loadText(IDS_WRITE_ERROR), entryPath));
    if (pollMessages())
        abortRun();
}

void flushOutputBuffer()
{
    uint32_t n = inflateIo.outputCount;
    countEntryOutput(n);
    progressStep(n);
    crc32Update(outputBuffer, n);
    checkWrite(_write(outputFile, outputBuffer, n));
    inflateIo.outputCount = 0;
}
