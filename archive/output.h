// Output files and folders under the target folder.
#ifndef AKSFX_OUTPUT_H
#define AKSFX_OUTPUT_H

// Forgets what the previous run learnt (drive, folders) and takes the target folder of this one.
void beginOutputRun();
// Turns the entry name in entryPath into the full output path under targetFolder.
void buildOutputPath();
// Creates every missing folder of entryPath (for a folder entry: the folder it names), except those this
// run has already made or found.
void createFolders();
// Asks whether to replace the file entryPath. True: Yes; false: No; Cancel stops the run with value 1.
bool confirmOverwrite();
// Creates entryPath as a new file in outputFile: true; false when a file or folder of that name exists.
// Any other failure stops the run.
bool createNewOutputFile();
// Opens the output of the file entry entryPath in outputFile: a new file when the name is free; else a
// temporary file beside the file of that name, which stays as it is until putOutputInPlace. A file that
// may not be replaced (a folder, a read-only file, a link), and any other failure, stop the run.
void createOutputFile();
void setOutputFileTime();
// The entry's data is written: outputFile is closed, unless it is a temporary file, which stays open for
// putOutputInPlace or endOutputRun.
void closeOutputFile();
// The entry has checked out: its temporary file, if any, takes the place of the file it replaces, and
// outputFile is closed. A failure stops the run.
void putOutputInPlace();
// The end of a run: outputFile is closed if a stop left it open, a temporary file is removed (the file it
// was to replace stays as it was), and the folders held open are let go. With dropEntry (a cancel in the
// middle of an entry) a file made new for the entry is removed too.
void endOutputRun(bool dropEntry);

bool pathExists(const wchar_t* path);

#endif
