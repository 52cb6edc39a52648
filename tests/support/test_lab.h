// Test helper: a lab directory as tarnwick-lab init leaves it, without a password.
#pragma once

#include <filesystem>

namespace tarnwick::test {

// Writes lab.ini (domain CLASS, server LABSRV), netlogon/CONFIG.POL with the Default User and the
// Default Computer's automatic download, and an empty homes folder into dir.
void WriteTestLab(const std::filesystem::path& dir);

}  // namespace tarnwick::test
