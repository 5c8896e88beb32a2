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
LRESULT CALLBACK meterWindowProc(HWND window, UINT message, WPARAM wParam, LPARAM lParam);

#endif
