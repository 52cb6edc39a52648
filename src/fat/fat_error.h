// Errors of a FAT volume: a damaged volume, a full one, a path that does not exist.
#pragma once

#include "base/error.h"

namespace tarnwick {

class FatError : public Error {
 public:
  using Error::Error;
};

// The volume's structures are damaged (boot sector, FAT, directories); it is never written.
class FatDamagedError : public FatError {
 public:
  using FatError::FatError;
};

}  // namespace tarnwick
