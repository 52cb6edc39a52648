// The policy file Tarnex.pol: where it lies, the key it is attached as, its error.
#pragma once

#include <string>
#include <string_view>

#include "base/error.h"

namespace tarnwick {

class Machine;

// A policy file that exists but cannot be attached (damaged, unreadable). The text names the file.
class PolicyFileError : public Error {
 public:
  using Error::Error;
};

// The Windows directory with "\" appended when missing, then "Tarnex.pol".
std::string PolicyFilePathFor(std::string_view windowsDirectory);
// The machine's policy file: a lab's netlogon CONFIG.POL as its clients reach it, else
// PolicyFilePathFor its Windows directory.
std::string PolicyFilePathOf(const Machine& machine);
// The program's file name without its extension: C:\TARNEX\TARNEX.EXE gives TARNEX.
std::string HiveKeyNameFor(std::string_view programPath);

// ReadOnly: the store opens keys without creating them and never saves a new policy file.
enum class PolicyAccess { ReadWrite, ReadOnly };

}  // namespace tarnwick
