#pragma once

#include <grp.h>
#include <gtest/gtest.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <filesystem>
#include <fstream>
#include <functional>
#include <set>

#include "profile/ProfileFile.h"
#include "support/Servers.h"

namespace profile_test {

using testsupport::TempDir;

inline void WriteFile(const std::string& path, const std::string& bytes) {
  std::ofstream(path, std::ios::binary | std::ios::trunc) << bytes;
}

inline std::string ReadFile(const std::string& path) {
  std::ifstream in(path, std::ios::binary);
  return std::string(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
}

inline struct stat Stat(const std::string& path) {
  struct stat st {};
  ::stat(path.c_str(), &st);
  return st;
}

constexpr int kSkip = 77;

// Runs `body` in a forked child, whose exit code is the body's return value. Root ignores
// permission bits: an unprivileged child of root runs as "nobody" (kSkip when that fails).
inline pid_t Spawn(const std::function<int()>& body, bool unprivileged = false) {
  const pid_t pid = ::fork();
  if (pid != 0) return pid;
  ::_exit(!unprivileged || ::geteuid() != 0 ||
                  (::setgroups(0, nullptr) == 0 && ::setgid(65534) == 0 && ::setuid(65534) == 0)
              ? body()
              : kSkip);
}

// The child's exit code, or -1 when a signal ended it.
inline int ExitCode(pid_t pid) {
  int status = 0;
  ::waitpid(pid, &status, 0);
  return WIFEXITED(status) ? WEXITSTATUS(status) : -1;
}

}  // namespace profile_test
