// The target folder: the default when none is given, and Browse.
#ifndef AKSFX_FOLDER_SELECT_H
#define AKSFX_FOLDER_SELECT_H

#include <windows.h>

// Fills buffer (261 units) with TMP, TEMP or the Windows TEMP folder; false when none is usable.
bool defaultTempFolder(wchar_t* buffer);
void browseForFolder(HWND dialog);

#endif
