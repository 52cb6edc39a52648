// The shell's directory operations on Windows paths of the machine: make one directory, copy a
// directory's contents into another, delete a directory tree into the drive's Recycle Bin.
#pragma once

#include <string>

#include "base/error.h"

namespace tarnwick {

class Machine;
class OperationPrompter;

// A copy or delete that failed; what was done before the failure stays.
class FileOperationError : public Error {
 public:
  using Error::Error;
};

// A check stopped the operation before anything was changed (a source or destination that is
// not there, a copy onto its own source): the shell warns of these rather than reporting errors.
class FileOperationNotStarted : public FileOperationError {
 public:
  using FileOperationError::FileOperationError;
};

enum class OperationResult {
  Done,
  Cancelled,     // the person stopped it; what was done before stays
  NothingNamed,  // a blank source, destination or directory: nothing was done
};

// Creates the one directory path names (its parent must exist). Every failure is silent.
void MakeDirectory(const Machine& machine, const std::string& path);

// Copies the contents of source (files and folders) into destination, which is created when
// its parent exists. Existing folders are merged; the prompter is asked before an existing file
// or folder is replaced. Throws FileOperationError (FileOperationNotStarted from the checks).
OperationResult CopyDirectoryTree(const Machine& machine, const std::string& source,
                                  const std::string& destination, OperationPrompter& prompter);

// Deletes directory with everything below it without asking. On a fixed drive kept in a host
// directory every file moves into the drive's Recycle Bin; elsewhere the tree is deleted at once,
// as the shell does on drives without a bin; a CD-ROM is read-only and nothing is deleted there.
// Throws FileOperationError (FileOperationNotStarted when there is no such directory) or
// RecycleBinError.
OperationResult DeleteDirectoryTree(const Machine& machine, const std::string& directory);

}  // namespace tarnwick
