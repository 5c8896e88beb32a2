// The meter keeps its range and position as two 16-bit window words (index 0 and 2); larger values keep
// their low 16 bits.
#include "meter.h"

void registerMeterClass(HINSTANCE instance)
{
    WNDCLASSW meterClass;
    ZeroMemory(&meterClass, sizeof meterClass);
    meterClass.style = CS_HREDRAW | CS_VREDRAW;
    meterClass.lpfnWndProc = meterWindowProc;
    meterClass.cbWndExtra = 4;
    meterClass.hInstance = instance;
    meterClass.hCursor = LoadCursorW(nullptr, IDC_ARROW);
    meterClass.lpszClassName = L"Meter";
    RegisterClassW(&meterClass);
}

static void paintMeter(HWND window)
{
    int range = (int)SendMessageW(window, METER_GETRANGE, 0, 0);
    int position = (int)SendMessageW(window, METER_GETPOS, 0, 0);
    int divisor = range ? range : 1;
    if (!range)
        position = 0;
    PAINTSTRUCT paint;
    HDC dc = BeginPaint(window, &paint);
    RECT client;
    GetClientRect(window, &client);
    RECT filled = {0, 0, position * client.right / divisor, client.bottom};
    if (filled.right > client.right)
        filled.right = client.right;
    RECT rest = {filled.right, 0, client.right, client.bottom};
    FillRect(dc, &filled, GetSysColorBrush(COLOR_HIGHLIGHT));
    FillRect(dc, &rest, GetSysColorBrush(COLOR_HIGHLIGHTTEXT));
    EndPaint(window, &paint);
}

LRESULT CALLBACK meterWindowProc(HWND window, UINT message, WPARAM wParam, LPARAM lParam)
{
    switch (message) {
    case WM_CREATE:
        SendMessageW(window, METER_SETRANGE, 100, 0);
        SendMessageW(window, METER_SETPOS, 50, 0);
        return 0;
    case WM_PAINT:
        paintMeter(window);
        return 0;
    case WM_GETDLGCODE:
        return DLGC_STATIC;
    case METER_SETRANGE:
    case METER_SETPOS:
        SetWindowWord(window, message == METER_SETRANGE ? 0 : 2, (WORD)wParam);
        InvalidateRect(window, nullptr, FALSE);
        UpdateWindow(window);
        return 0;
    case METER_GETRANGE:
    case METER_GETPOS:
        return (WORD)GetWindowWord(window, message == METER_GETRANGE ? 0 : 2);
    }
    return DefWindowProcW(window, message, wParam, lParam);
}
