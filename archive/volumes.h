// The open archive file and the volumes of a spanned set.
#ifndef AKSFX_VOLUMES_H
#define AKSFX_VOLUMES_H

#include <stdint.h>

extern uint16_t currentDisk;

// Reads up to n bytes at the current position of the archive file; the count read, or -1.
int readArchive(void* buffer, uint32_t n);
// Seeks the archive file (SEEK_SET, SEEK_CUR, SEEK_END); the new position or -1.
long seekArchive(long offset, int origin);

// Opens the volume file of disk (0 = the last disk) once the disk with that label is in the drive of the
// started file. Stops the run when the user gives up; the file cannot be opened: header damaged.
void switchVolume(uint16_t disk, bool exeNamed);

// The set number in the label of the drive root, or NOT_A_SET_LABEL.
uint16_t readVolumeNumber(const wchar_t* root);

#endif
