// Runs a built program or a reader as a child process and collects what it printed.
#pragma once

#include <filesystem>
#include <string>
#include <vector>

namespace tarnwick::test {

struct ProgramRun {
  int status = -1;  // the exit status; -1 when the program did not start or did not exit
  std::string out;
  std::string err;
};

// args[0] is looked up on PATH unless it holds a "/". Standard input comes from input when given,
// else from /dev/null.
ProgramRun RunProgram(std::vector<std::string> args, const std::filesystem::path& input = {});

std::string Slurp(const std::filesystem::path& file);

}  // namespace tarnwick::test
