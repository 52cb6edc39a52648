#include "operations/operation_prompter.h"

namespace tarnwick {

namespace {

std::string Describe(const FileFacts& file,
                     const std::function<std::string(std::chrono::sys_seconds)>& formatTime) {
  return "    " + std::to_string(file.size) + " bytes\n    modified on " +
         formatTime(file.modified);
}

}  // namespace

std::string ReplaceQuestion::Text(
    const std::function<std::string(std::chrono::sys_seconds)>& formatTime) const {
  if (folder) {
    return "This folder already contains a folder named '" + name +
           "'.\n\nIf the files in the existing folder have the same name as files in the folder "
           "you are copying, they will be replaced. Do you still want to copy the folder?";
  }
  return "This folder already contains a file named '" + name +
         "'.\n\nWould you like to replace the existing file\n\n" + Describe(existing, formatTime) +
         "\n\nwith this one?\n\n" + Describe(replacement, formatTime);
}

}  // namespace tarnwick
