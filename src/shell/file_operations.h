// The shell's directory operations on Windows paths of the machine: make one directory, copy a
// directory's contents into another, delete a directory tree into the drive's Recycle Bin.
#pragma once

#include <string>

class QWidget;

namespace tarnwick {

class Machine;

// Results, as the shell's file operation returns them.
inline constexpr int kFileOpSuccess = 0;
inline constexpr int kFileOpSameFile = 0x71;             // source and destination are one file
inline constexpr int kFileOpCancelled = 0x75;            // the user pressed Cancel
inline constexpr int kFileOpDestinationInSource = 0x76;  // the destination lies in the source
inline constexpr int kFileOpFailed = 0x402;              // any other failure, already reported
inline constexpr int kFileOpNotStarted = -1;             // a check stopped before the operation

// Creates the one directory path names (its parent must exist). Every failure is silent.
void MakeDirectory(const Machine& machine, const std::string& path);

// Copies the contents of source (files and folders) into destination, which is created when
// its parent exists. Existing folders are merged; the user is asked before an existing file or
// folder is replaced; a progress window appears when the copy takes long. Failures of the copy
// itself are shown in a message box; the result tells success, Cancel or failure.
int CopyDirectoryTree(const Machine& machine, const std::string& source,
                      const std::string& destination, QWidget* owner);

// Deletes directory with everything below it without asking. On a fixed drive every file moves
// into the drive's Recycle Bin, whether or not recycle is set: the shell is asked to allow undo
// either way. Elsewhere the tree is deleted at once, as the shell does on drives without a bin;
// a CD-ROM is read-only and nothing is deleted there.
int DeleteDirectoryTree(const Machine& machine, const std::string& directory, bool recycle,
                        QWidget* owner);

}  // namespace tarnwick
