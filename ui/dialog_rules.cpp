#include "dialog_rules.h"

#include "../startup/payload_format.h"

int centredOrigin(int screenSize, int nearEdge, int farEdge)
{
    return (screenSize + nearEdge - farEdge) / 2;
}

const wchar_t* introductionName(const wchar_t* archiveName, const wchar_t* thisFile)
{
    uint32_t n = 0;
    while (archiveName[n] && n <= INTRO_NAME_MAX)
        n++;
    return n > INTRO_NAME_MAX ? thisFile : archiveName;
}

DialogTitle chooseDialogTitle(uint32_t flags, const wchar_t* headerCaption)
{
    if (!(flags & SFXF_SETUP_TITLE))
        return TITLE_CAPTION_AND_NAME;
    return headerCaption[0] ? TITLE_HEADER_CAPTION : TITLE_SETUP;
}

bool stripTrailingBackslash(wchar_t* path)
{
    uint32_t n = 0;
    while (path[n])
        n++;
    if (n > 2 && path[n - 1] == L'\\' && path[n - 2] != L'\\' && path[n - 2] != L':') {
        path[n - 1] = 0;
        return true;
    }
    return false;
}

bool meterShownAtOnce(uint32_t endRecordOffset, uint32_t flags)
{
    return endRecordOffset >= METER_AT_ONCE_OFFSET || (flags & SFXF_SPANNED) != 0;
}

bool meterShownAtTick(uint32_t bytesDone, uint32_t totalSize)
{
    return bytesDone < totalSize / 3;
}

MeterLayout meterLayout(uint16_t range, uint16_t position, int32_t clientRight, int32_t clientBottom,
                        int32_t textHeight, bool measured)
{
    // Range 0 paints an empty bar whatever the position.
    int32_t divisor = range ? range : 1;
    int32_t shown = range ? position : 0;
    MeterLayout layout;
    // position <= 65535 and a client width below 32768 keep the product inside 32 bits.
    layout.split = shown * clientRight / divisor;
    layout.textX = clientRight / 2;
    if (measured) {
        // A quarter of the spare height, as an unsigned value: a bar lower than its text puts the text
        // far below the bar, so only the two colours show.
        layout.textY = (int32_t)((uint32_t)(clientBottom - textHeight) >> 2);
        layout.drawFilled = true;
    } else {
        // Without a text height the text goes to the top, and the unfilled colours paint the whole bar
        // so that no part of it is left unpainted.
        layout.textY = 0;
        layout.drawFilled = false;
        layout.split = 0;
    }
    return layout;
}

int32_t meterFontHeight(int32_t pixelsPerInch)
{
    return pixelsPerInch * -8 / 72;
}
