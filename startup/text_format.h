// Bounded text formatting for the fixed-size UTF-16 buffers of the program.
//
// Understands %s (a wide text), %d, %ld, %u, %lu, %x, %lx, %08lx-style zero padding and width, and %%.
// Unlike the system's formatter it never writes past the buffer: a result that does not fit is reported,
// and the caller treats that as an internal error.
#ifndef AKSFX_TEXT_FORMAT_H
#define AKSFX_TEXT_FORMAT_H

#include <stdarg.h>
#include <stdint.h>
#include <wchar.h>

// Formats into out (capacity units, terminator included). Returns the length, or -1 when the result
// needs capacity units or more; out then holds an empty text.
int formatText(wchar_t* out, uint32_t capacity, const wchar_t* format, ...);
int formatTextV(wchar_t* out, uint32_t capacity, const wchar_t* format, va_list args);

// Length of a terminated text, and bounded copy / append (false when it does not fit; the destination
// then keeps what fitted, terminated).
uint32_t textLength(const wchar_t* text);
bool copyText(wchar_t* dest, uint32_t capacity, const wchar_t* source);
bool appendText(wchar_t* dest, uint32_t capacity, const wchar_t* source);

#endif
