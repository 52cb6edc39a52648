// The text of tarnwick --describe: what a machine holds.
#pragma once

#include <string>

#include "machine/machine.h"

namespace tarnwick {

std::string Describe(const Machine& machine);

}  // namespace tarnwick
