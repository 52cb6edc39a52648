// Test helper: counts the files renamed into a directory. Each atomic write of a file ends with
// one such rename, so this counts the writes of each file.
#pragma once

#include <gtest/gtest.h>
#include <sys/inotify.h>
#include <unistd.h>

#include <filesystem>
#include <map>
#include <string>

#include "base/file_io.h"

namespace tarnwick::test {

class FileReplacements {
 public:
  explicit FileReplacements(const std::filesystem::path& dir) : fd_(inotify_init1(IN_NONBLOCK)) {
    EXPECT_GE(inotify_add_watch(fd_.Get(), dir.c_str(), IN_MOVED_TO), 0) << dir;
  }

  // The renames into the directory by file name since the last call.
  std::map<std::string, int> Take() {
    std::map<std::string, int> counts;
    alignas(inotify_event) char buffer[4096];
    for (ssize_t n; (n = read(fd_.Get(), buffer, sizeof buffer)) > 0;) {
      for (const char* at = buffer; at < buffer + n;) {
        const auto* event = reinterpret_cast<const inotify_event*>(at);
        ++counts[event->name];
        at += sizeof(inotify_event) + event->len;
      }
    }
    return counts;
  }

 private:
  UniqueFd fd_;
};

}  // namespace tarnwick::test
