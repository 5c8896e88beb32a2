// Opening this archive in the archiver product instead of extracting it.
#ifndef AKSFX_ARCHIVER_H
#define AKSFX_ARCHIVER_H

#include <stdint.h>
#include <wchar.h>

// Starts the archiver on the file the user started (never the private copy). True when the shell started
// it (or its helper); the main dialog then ends. Not installed, or Shift held: message 1038, false.
bool runArchiver();

// The packaged archiver's executable relative to its package, into buffer (capacity units); false when no
// packaged archiver of this maker is registered.
bool findPackagedArchiver(wchar_t* buffer, uint32_t capacity);

#endif
