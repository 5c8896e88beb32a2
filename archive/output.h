// Output files and folders under the target folder.
#ifndef AKSFX_OUTPUT_H
#define AKSFX_OUTPUT_H

// Forgets what the previous run learnt about drives.
void beginOutputRun();
// Turns the entry name in entryPath into the full output path under targetFolder.
void buildOutputPath();
// Creates every missing folder of entryPath (for a folder entry: the folder it names).
void createFolders();
// True: write the file; false: skip the entry. Cancel stops the run with value 1.
bool confirmOverwrite();
void createOutputFile();
void setOutputFileTime();

bool pathExists(const wchar_t* path);

#endif
