// The shell commands that give each name of a class list a Samba account on the lab's server.
#pragma once

#include <filesystem>
#include <optional>
#include <string>
#include <string_view>

#include "machine/lab.h"

namespace tarnwick {

// The columns a class list may have; samba-users reads "name" and "group".
inline constexpr std::string_view kClassListColumns[] = {
    "name", "icon", "group", "hide-drives", "restrict", "allow", "copy-programs", "share-programs"};

// Single quotes, with each quote inside written as '\''.
std::string ShellQuote(std::string_view text);

// A shell script of useradd, install and pdbedit commands for every row of the class list text;
// homes is the lab's homes folder, or none for the system's default homes. Each policy group of
// the "group" column becomes a Unix group mapped to a domain group of its name (groupadd and
// net groupmap, both skipped or updated when the script runs again), and each row's account a
// member of it (usermod). Throws CsvError naming the line and column of the first bad row; then
// nothing is printed.
std::string SambaUserCommands(std::string_view text, const std::string& fileName,
                              const std::optional<std::filesystem::path>& homes);

}  // namespace tarnwick
