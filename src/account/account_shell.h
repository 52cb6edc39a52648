// What making or removing an account asks of the one who runs it: copies and deletes of whole
// folders, with the questions and progress they bring, and a word to the person. The windows
// answer with the shell's dialogs, the command line with text.
#pragma once

#include <string>

namespace tarnwick {

class AccountShell {
 public:
  virtual ~AccountShell() = default;

  // Copies the contents of source into destination, which is made when missing, asking before
  // anything is replaced. A failure is reported here and the account goes on without it.
  virtual void CopyFolder(const std::string& source, const std::string& destination) = 0;
  // Deletes folder with everything in it, into its drive's Recycle Bin on a fixed drive. A
  // failure is reported here and the removal goes on.
  virtual void DeleteFolder(const std::string& folder) = 0;
  // Tells the person something while the account is made (Windows text).
  virtual void Tell(const std::string& text) = 0;
};

}  // namespace tarnwick
