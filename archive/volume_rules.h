// Pure rules of spanned sets: the disk number in a volume label and the name of a volume file.
//
// A set disk's label begins "PKBACK#" (exact case), then a blank or a full stop somewhere, then the disk
// number in decimal: "PKBACK# 001" and "PKBACK#.3" are disks 1 and 3. Numbers are taken modulo 65536.
#ifndef AKSFX_VOLUME_RULES_H
#define AKSFX_VOLUME_RULES_H

#include <stdint.h>
#include <wchar.h>

enum : uint16_t { NOT_A_SET_LABEL = 0xFFFF };

uint16_t parseVolumeLabel(const wchar_t* label);

// The volume file beside setPath: its extension replaced by ".EXE" or ".ZIP". When the file name has no
// full stop the extension is appended (a full stop in a folder name is never taken). False when the
// result does not fit capacity units.
bool volumeFileName(const wchar_t* setPath, bool exeNamed, wchar_t* out, uint32_t capacity);

#endif
