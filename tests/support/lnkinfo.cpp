#include "support/lnkinfo.h"

#include <gtest/gtest.h>

#include "support/run_program.h"

namespace tarnwick::test {

std::string Lnkinfo(const std::filesystem::path& link) {
  const ProgramRun run = RunProgram({"lnkinfo", link.string()});
  EXPECT_EQ(run.status, 0) << run.out << run.err;
  return run.out;
}

std::string LnkField(std::string_view out, std::string_view field) {
  size_t start = 0;
  while (start < out.size()) {
    size_t end = out.find('\n', start);
    if (end == std::string_view::npos) end = out.size();
    const std::string_view line = out.substr(start, end - start);
    const size_t name = line.find_first_not_of('\t');
    const size_t colon = line.find(": ");
    if (name != std::string_view::npos && colon != std::string_view::npos &&
        line.substr(name, field.size()) == field &&
        line.find_first_not_of('\t', name + field.size()) == colon) {
      return std::string(line.substr(colon + 2));
    }
    start = end + 1;
  }
  return "-";
}

}  // namespace tarnwick::test
