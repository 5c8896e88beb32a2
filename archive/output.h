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
// Creates entryPath in outputFile, replacing a file of that name; a failure stops the run.
void createOutputFile();
void setOutputFileTime();

bool pathExists(const wchar_t* path);

#endif
