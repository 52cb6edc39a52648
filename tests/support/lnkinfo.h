// Test helper: what liblnk's lnkinfo shows of a shortcut file.
#pragma once

#include <filesystem>
#include <string>
#include <string_view>

namespace tarnwick::test {

// lnkinfo's whole output; a failed gtest expectation when lnkinfo refuses the file.
std::string Lnkinfo(const std::filesystem::path& link);

// One field of that output ("Local path", "Description", "Icon location"); "-" when absent.
std::string LnkField(std::string_view out, std::string_view field);

}  // namespace tarnwick::test
