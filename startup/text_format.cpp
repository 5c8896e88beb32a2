#include "text_format.h"

uint32_t textLength(const wchar_t* text)
{
    uint32_t n = 0;
    while (text[n])
        n++;
    return n;
}

bool copyText(wchar_t* dest, uint32_t capacity, const wchar_t* source)
{
    if (capacity == 0)
        return false;
    dest[0] = 0;
    return appendText(dest, capacity, source);
}

bool appendText(wchar_t* dest, uint32_t capacity, const wchar_t* source)
{
    uint32_t n = textLength(dest);
    for (; *source; source++) {
        if (n + 1 >= capacity) {
            dest[n] = 0;
            return false;
        }
        dest[n++] = *source;
    }
    dest[n] = 0;
    return true;
}

namespace {

struct Output {
    wchar_t* out;
    uint32_t capacity;
    uint32_t length;
    bool overflow;
};

void put(Output* o, wchar_t c)
{
    if (o->length + 1 >= o->capacity) {
        o->overflow = true;
        return;
    }
    o->out[o->length++] = c;
}

void putNumber(Output* o, unsigned long value, bool negative, unsigned base, int width, bool zeroPad)
{
    wchar_t digits[24];
    int n = 0;
    do {
        unsigned d = (unsigned)(value % base);
        digits[n++] = (wchar_t)(d < 10 ? L'0' + d : L'a' + d - 10);
        value /= base;
    } while (value != 0);
    int total = n + (negative ? 1 : 0);
    if (!zeroPad)
        for (; total < width; total++)
            put(o, L' ');
    if (negative)
        put(o, L'-');
    if (zeroPad)
        for (; total < width; total++)
            put(o, L'0');
    while (n > 0)
        put(o, digits[--n]);
}

} // namespace

int formatTextV(wchar_t* out, uint32_t capacity, const wchar_t* format, va_list args)
{
    Output o = {out, capacity, 0, capacity == 0};
    for (const wchar_t* f = format; *f && !o.overflow; f++) {
        if (*f != L'%') {
            put(&o, *f);
            continue;
        }
        f++;
        bool zeroPad = false;
        int width = 0;
        if (*f == L'0') {
            zeroPad = true;
            f++;
        }
        while (*f >= L'0' && *f <= L'9' && width < 100)
            width = width * 10 + (int)(*f++ - L'0');
        bool isLong = false;
        if (*f == L'l') {
            isLong = true;
            f++;
        }
        switch (*f) {
        case L's': {
            const wchar_t* s = va_arg(args, const wchar_t*);
            if (!s)
                s = L"(null)";
            uint32_t len = textLength(s);
            for (uint32_t i = len; (int)i < width; i++)
                put(&o, L' ');
            for (; *s; s++)
                put(&o, *s);
            break;
        }
        case L'd': {
            long v = isLong ? va_arg(args, long) : (long)va_arg(args, int);
            unsigned long magnitude = v < 0 ? 0ul - (unsigned long)v : (unsigned long)v;
            putNumber(&o, magnitude, v < 0, 10, width, zeroPad);
            break;
        }
        case L'u':
        case L'x': {
            unsigned long v = isLong ? va_arg(args, unsigned long) : (unsigned long)va_arg(args, unsigned);
            putNumber(&o, v, false, *f == L'x' ? 16 : 10, width, zeroPad);
            break;
        }
        case L'%':
            put(&o, L'%');
            break;
        default:
            // An unknown directive is a fault of the format text, not of the data: show it as it stands.
            put(&o, L'%');
            if (*f)
                put(&o, *f);
            else
                f--;
            break;
        }
    }
    if (o.overflow) {
        if (capacity)
            out[0] = 0;
        return -1;
    }
    out[o.length] = 0;
    return (int)o.length;
}

int formatText(wchar_t* out, uint32_t capacity, const wchar_t* format, ...)
{
    va_list args;
    va_start(args, format);
    int n = formatTextV(out, capacity, format, args);
    va_end(args);
    return n;
}
