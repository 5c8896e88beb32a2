// The program a file starts after a complete extraction (SFXF_RUN_AFTER): an installer's setup program.
#ifndef AKSFX_RUN_AFTER_H
#define AKSFX_RUN_AFTER_H

// Starts the program of the header's run command from the target folder, by its full path, with the
// target folder as its current folder (an installer package through msiexec.exe /i); with SFXF_RUN_WAIT
// waits for it. Returns the stub's exit code: the program's own (msiexec's) when waited for, 0 once it
// started, 1 after telling the user it could not be started (also for a name of another kind).
int startProgramAfterRun();

#endif
