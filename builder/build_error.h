// Failures of the building tool. Each carries one line for the user; main() prints it and picks the exit
// status: 2 for a usage error (the command line itself is wrong), 1 for every other failure.
#ifndef AKSFX_BUILD_ERROR_H
#define AKSFX_BUILD_ERROR_H

#include <stdexcept>
#include <string>

struct BuildError : std::runtime_error {
    explicit BuildError(const std::string& line) : std::runtime_error(line) {}
};

struct UsageError : BuildError {
    explicit UsageError(const std::string& line) : BuildError(line) {}
};

#endif
