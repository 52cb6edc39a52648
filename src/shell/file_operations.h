// The directory operations as the windows run them: the copy and delete of
// operations/file_operations.h with the shell's progress window and message boxes.
#pragma once

#include <string>

#include "operations/file_operations.h"

class QWidget;

namespace tarnwick {

// Copies the contents of source into destination, asking in the shell's replace box. A progress
// window appears once the copy has run for showProgressAfterMs, not counting the time its
// questions wait for an answer; it never shows while one is asked. A check that stops the copy
// is shown in a warning box, a failure in an error box; Cancel shows nothing.
void CopyDirectoryTree(const Machine& machine, const std::string& source,
                       const std::string& destination, QWidget* owner,
                       int showProgressAfterMs = 1000);

// Deletes directory with everything below it without asking (into the drive's Recycle Bin on a
// fixed drive). A missing directory is shown in a warning box, a failure in an error box.
void DeleteDirectoryTree(const Machine& machine, const std::string& directory, QWidget* owner);

}  // namespace tarnwick
