#include "screen_place.h"

#include "dialog_rules.h"

void centreOnScreen(HWND window)
{
    RECT r;
    GetWindowRect(window, &r);
    int x = centredOrigin(GetSystemMetrics(SM_CXSCREEN), r.left, r.right);
    int y = centredOrigin(GetSystemMetrics(SM_CYSCREEN), r.top, r.bottom);
    SetWindowPos(window, HWND_TOP, x, y, 0, 0, SWP_NOSIZE | SWP_NOACTIVATE);
}
