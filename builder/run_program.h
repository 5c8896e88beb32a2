// The program that --run names: checked by the tool with the stub's own rules (launch/run_rules.h), so
// that a file is never built whose program the stub would refuse or not find after extraction.
//
// The run command (header text 2) is the program's name relative to the target folder, in quotes when it
// holds blanks, then its arguments. The stub starts it only after a run that wrote every entry, by its
// full path below the target folder.
#ifndef AKSFX_RUN_PROGRAM_H
#define AKSFX_RUN_PROGRAM_H

#include <string>

#include "zip_model.h"

// The program's name as the stub splits it off. Throws UsageError when the text has no program, an
// unclosed quote, or a program longer than the stub's buffer
// (260 units).
std::u16string runProgramName(const std::u16string& command);

// Throws BuildError with one line when the program's name breaks the stub's entry-name rule (an absolute
// name, "..", a device name, ...), is neither a program (.exe) nor an installer package (.msi), or is no
// file entry of the archive (none, or a folder). Names compare as Windows compares them
// (windowsNameKey: '/' and '\' alike, without regard to letter case).
void checkRunProgram(const std::u16string& command, const ZipArchive& archive);

#endif
