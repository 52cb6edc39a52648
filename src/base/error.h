// The one base of the errors this program throws. Every text is UTF-8, ready to show; text in
// code page 1252 (Windows paths, names from the machine) is converted where it enters a text.
#pragma once

#include <stdexcept>
#include <string>

namespace tarnwick {

class Error : public std::runtime_error {
 public:
  using std::runtime_error::runtime_error;
};

}  // namespace tarnwick
