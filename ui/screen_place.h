// Placing the program's dialogs.
#ifndef AKSFX_SCREEN_PLACE_H
#define AKSFX_SCREEN_PLACE_H

#include <windows.h>

// Moves a window to the middle of the screen, without resizing or activating it.
void centreOnScreen(HWND window);

#endif
