// Running a command from a test, as lspci is run to compare our reading of
// dumps with pciutils' own.
#ifndef LUMBREL_TESTS_RUN_COMMAND_H
#define LUMBREL_TESTS_RUN_COMMAND_H

#include <string>

struct CommandResult {
    int exitCode = -1;  // -1 when it could not be run or did not exit
    std::string out, err;
};

// Runs `command` through the shell; standard output and error apart.
CommandResult RunCommand(const std::string& command);

// lspci's complaints in `err`, without its note that it cannot load
// kernel-module data (which has nothing to do with the file it reads).
std::string Complaints(const std::string& err);

#endif
