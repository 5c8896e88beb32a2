// Opening this archive in the archiver product instead of extracting it.
#ifndef AKSFX_ARCHIVER_H
#define AKSFX_ARCHIVER_H

// True when the shell started the archiver (or its helper); the main dialog then ends.
bool runArchiver();

#endif
