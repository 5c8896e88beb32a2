// Pure rules of the dialogs and the meter: centring, the main dialog's title and introduction, when the
// meter replaces the status line, and where the meter splits and places its text. No OS calls.
#ifndef AKSFX_DIALOG_RULES_H
#define AKSFX_DIALOG_RULES_H

#include <stdint.h>
#include <wchar.h>

enum : uint32_t {
    INTRO_NAME_MAX = 24,               // longer archive names are not put into the introduction text
    METER_AT_ONCE_OFFSET = 0x80000,    // an end record this far in shows the meter at once
};

// One coordinate of a window centred on the screen: (screen + nearEdge - farEdge) / 2, truncating
// toward zero (a window larger than the screen gets a negative origin).
int centredOrigin(int screenSize, int nearEdge, int farEdge);

// The name for the introduction text: the archive name itself, or thisFile when it is longer than 24.
const wchar_t* introductionName(const wchar_t* archiveName, const wchar_t* thisFile);

enum DialogTitle { TITLE_CAPTION_AND_NAME, TITLE_HEADER_CAPTION, TITLE_SETUP };
// Which title the main dialog gets for the parameter block's flags and the header's caption.
DialogTitle chooseDialogTitle(uint32_t flags, const wchar_t* headerCaption);

// Removes one trailing backslash from a folder of more than 2 characters, unless it follows another
// backslash or a colon (C:\ and \\ stay). True when it removed one.
bool stripTrailingBackslash(wchar_t* path);

// True when an extraction shows the meter at once instead of starting the 500 ms timer.
bool meterShownAtOnce(uint32_t endRecordOffset, uint32_t flags);
// True when the timer's tick shows the meter: less than a third of the total is written.
bool meterShownAtTick(uint32_t bytesDone, uint32_t totalSize);

// Where the meter paints. The filled part is [0, split) and the unfilled part [split, width); a position
// beyond the range puts split past the width, so the unfilled part is empty.
struct MeterLayout {
    int32_t split;      // right edge of the filled part
    int32_t textX;      // centre of the text
    int32_t textY;      // top of the text
    bool drawFilled;    // false when the text could not be measured: the unfilled colours cover all
};

// range and position as the control stores them (16 bits each); clientRight and clientBottom the
// client rectangle's size; textHeight the height of "X" in the meter's font, measured = false when the
// measurement failed.
MeterLayout meterLayout(uint16_t range, uint16_t position, int32_t clientRight, int32_t clientBottom,
                        int32_t textHeight, bool measured);

// Height of the meter's 8-point font for the screen's pixels per inch (a negative height asks for the
// character height): -10 at 96, -13 at 120, -16 at 144.
int32_t meterFontHeight(int32_t pixelsPerInch);

#endif
