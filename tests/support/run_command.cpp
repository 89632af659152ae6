#include "run_command.h"

#include <gtest/gtest.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cstdio>
#include <fstream>
#include <sstream>

CommandResult RunCommand(const std::string& command)
{
    CommandResult result;
    // A file of this process's own, so that parallel test processes do not share it.
    const std::string errPath =
        ::testing::TempDir() + "lumbrel-command-stderr-" + std::to_string(getpid()) + ".txt";
    FILE* pipe = popen((command + " 2>'" + errPath + "'").c_str(), "r");
    if (!pipe) return result;
    char buffer[4096];
    size_t n;
    while ((n = std::fread(buffer, 1, sizeof buffer, pipe)) > 0) result.out.append(buffer, n);
    const int status = pclose(pipe);
    result.exitCode = WIFEXITED(status) ? WEXITSTATUS(status) : -1;
    std::ifstream err(errPath);
    std::ostringstream text;
    text << err.rdbuf();
    result.err = text.str();
    std::remove(errPath.c_str());
    return result;
}

std::string Complaints(const std::string& err)
{
    std::istringstream in(err);
    std::string line, complaints;
    while (std::getline(in, line))
        if (!line.empty() && line.find("libkmod") == std::string::npos) complaints += line + "\n";
    return complaints;
}
