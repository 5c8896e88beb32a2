// The meter control. Range and position are two 16-bit window words (index 0 and 2); larger values keep
// their low 16 bits. Every paint draws the status text twice at one point: once clipped to the filled part
// in the highlight colours, once clipped to the unfilled part with the colours swapped, so the characters
// change colour where they cross the split.
#include "meter.h"

#include "../archive/progress.h"
#include "dialog_rules.h"

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

// The font is made at the first paint and kept until the control goes: making it (and the screen device
// context that sizes it) at every paint cost more than the paint itself.
static HFONT madeFont;

static HFONT meterFont()
{
    if (madeFont)
        return madeFont;
    HDC screen = CreateDCW(L"DISPLAY", nullptr, nullptr, nullptr);
    LOGFONTW font;
    ZeroMemory(&font, sizeof font);
    lstrcpyW(font.lfFaceName, L"MS Shell Dlg");
    font.lfHeight = meterFontHeight(screen ? GetDeviceCaps(screen, LOGPIXELSY) : 96);
    madeFont = CreateFontIndirectW(&font);
    if (screen)
        DeleteDC(screen);
    return madeFont;
}

static void releaseMeterFont()
{
    if (madeFont)
        DeleteObject(madeFont);
    madeFont = nullptr;
}

static void swapColours(HDC dc)
{
    COLORREF text = GetTextColor(dc);
    SetTextColor(dc, GetBkColor(dc));
    SetBkColor(dc, text);
}

static void paintMeter(HWND window)
{
    uint16_t range = (uint16_t)SendMessageW(window, METER_GETRANGE, 0, 0);
    uint16_t position = (uint16_t)SendMessageW(window, METER_GETPOS, 0, 0);
    const wchar_t* text = statusTextAtHand();
    UINT length = lstrlenW(text);

    PAINTSTRUCT paint;
    HDC dc = BeginPaint(window, &paint);
    HFONT font = meterFont();
    HGDIOBJ previous = font ? SelectObject(dc, font) : nullptr;
    SetBkColor(dc, GetSysColor(COLOR_HIGHLIGHTTEXT));
    SetTextColor(dc, GetSysColor(COLOR_HIGHLIGHT));
    SetTextAlign(dc, TA_CENTER | TA_TOP);
    swapColours(dc);

    RECT client;
    GetClientRect(window, &client);
    SIZE extent;
    bool measured = GetTextExtentPoint32W(dc, L"X", 1, &extent) != 0;
    MeterLayout layout = meterLayout(range, position, client.right, client.bottom, measured ? extent.cy : 0,
                                     measured);
    RECT part = {0, 0, layout.split, client.bottom};
    if (layout.drawFilled)
        ExtTextOutW(dc, layout.textX, layout.textY, ETO_CLIPPED | ETO_OPAQUE, &part, text, length, nullptr);
    SetRect(&part, layout.split, 0, client.right, client.bottom);
    swapColours(dc);
    ExtTextOutW(dc, layout.textX, layout.textY, ETO_CLIPPED | ETO_OPAQUE, &part, text, length, nullptr);

    if (previous)
        SelectObject(dc, previous);
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
    case WM_DESTROY:
        releaseMeterFont();
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
