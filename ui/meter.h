// The progress meter control, window class "Meter": a bar split into a filled and an unfilled part.
#ifndef AKSFX_METER_H
#define AKSFX_METER_H

#include <windows.h>

enum : UINT {
    METER_SETRANGE = WM_USER + 0,
    METER_GETRANGE = WM_USER + 1,
    METER_SETPOS = WM_USER + 2,
    METER_GETPOS = WM_USER + 3,
};

void registerMeterClass(HINSTANCE instance);
// With create set: makes the meter font ("MS Shell Dlg", 8 points for the screen), selects it into dc and
// returns the font it displaced, or null when no font was made. With create clear: selects previous back
// and deletes the font that this displaces.
HFONT selectMeterFont(HDC dc, HFONT previous, bool create);
LRESULT CALLBACK meterWindowProc(HWND window, UINT message, WPARAM wParam, LPARAM lParam);

#endif
