// Faults: read-only and missing directories, a full file system, a writer killed in the middle
// of its writes, two processes writing at once. A failed write leaves the file as it was.
#include <gtest/gtest.h>
#include <signal.h>
#include <sys/mount.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstring>
#include <string>
#include <vector>

#include "ProfileTestSupport.h"
#include "profile/ProfileFile.h"

using namespace profile_test;

namespace {

const std::set<std::string> kFileAndLock = {"db.ini", "db.ini.lock"};

// 0 when the write raised EProfileError naming the path, else 1 (no error) or 2 (wrong text).
int ExpectWriteRefused(const std::string& path) {
  try {
    ProfileFile(path).Profile_Write_String("S", "k", "new value");
  } catch (const EProfileError& e) {
    return std::string(e.what()) == path + " に書き込めません" ? 0 : 2;
  }
  return 1;
}

TEST(ProfileFault, ReadOnlyDirectoryOrFile) {
  TempDir dir;
  const std::string path = dir / "db.ini", content = "; kept\r\n[S]\r\nk=old\r\n";
  WriteFile(path, content);
  ::chmod(dir.path().c_str(), 0555);
  int code = RunUnprivileged([&] {
    if (ProfileFile(path).Profile_Read_String("S", "k", "") != "old") return 3;
    return ExpectWriteRefused(path);  // the lock file cannot even be created
  });
  if (code == kSkip) GTEST_SKIP() << "cannot drop root privileges";
  EXPECT_EQ(code, 0);
  // With the lock file left by an earlier write, the refusal comes later.
  ::chmod(dir.path().c_str(), 0755);
  ProfileFile(path).Profile_Write_String("S", "k", "old");  // no change; makes the lock file
  ::chmod(dir.path().c_str(), 0555);
  EXPECT_EQ(RunUnprivileged([&] { return ExpectWriteRefused(path); }), 0);
  EXPECT_EQ(ReadFile(path), content);
  EXPECT_EQ(ListDir(dir.path()), kFileAndLock);
  // A read-only file in a writable directory is not replaced either.
  ::chmod(dir.path().c_str(), 0777);
  ::chmod(path.c_str(), 0444);
  EXPECT_EQ(RunUnprivileged([&] { return ExpectWriteRefused(path); }), 0);
  EXPECT_EQ(ReadFile(path), content);
}

TEST(ProfileFault, MissingDirectory) {
  TempDir dir;
  const std::string path = dir / "not/there/db.ini";
  EXPECT_EQ(ExpectWriteRefused(path), 0);
  EXPECT_FALSE(std::filesystem::exists(dir / "not"));
  EXPECT_EQ(ProfileFile(path).Profile_Read_String("S", "k", "def"), "def");
}

TEST(ProfileFault, FullFileSystem) {
  TempDir dir;
  const std::string mnt = dir / "small", path = mnt + "/db.ini";
  ::mkdir(mnt.c_str(), 0755);
  if (::mount("tmpfs", mnt.c_str(), "tmpfs", 0, "size=64k") != 0)
    GTEST_SKIP() << "cannot mount a tmpfs: " << std::strerror(errno);
  struct Unmount {
    std::string at;
    ~Unmount() { ::umount2(at.c_str(), MNT_DETACH); }
  } unmount{mnt};
  // About 40 KB: the new copy does not fit beside it.
  std::string content = "; big\r\n";
  for (int i = 0; content.size() < 40000; ++i)
    content += "[" + std::to_string(i) + "]\r\ntitle=" + std::string(60, 'x') + "\r\n";
  WriteFile(path, content);
  ASSERT_EQ(ReadFile(path), content);
  try {
    ProfileFile(path).Profile_Write_String("0", "title", "changed");
    FAIL() << "the write succeeded on a full file system";
  } catch (const EProfileError& e) {
    EXPECT_EQ(std::string(e.what()), path + " に書き込めません");
    EXPECT_EQ(e.error(), ENOSPC);
  }
  EXPECT_EQ(ReadFile(path), content);
  EXPECT_EQ(ListDir(mnt), kFileAndLock);
}

const std::string kInitial = "; the disc database\r\n[Other]\r\nx=1\r\n";

// The file after the first k writes of the killed writer.
std::string StateAfter(int k) {
  std::string s = kInitial + (k ? "[Disc]\r\n" : "");
  for (int i = 0; i < k; ++i) s += std::to_string(i) + "=value-" + std::to_string(i) + "\r\n";
  return s;
}

// Which state the bytes are, or -1 if none.
int WhichState(const std::string& bytes) {
  int k = 0;
  for (std::size_t pos = 0; (pos = bytes.find("=value-", pos)) != std::string::npos; ++pos) ++k;
  return bytes == StateAfter(k) ? k : -1;
}

TEST(ProfileFault, WriterKilledInTheMiddleOfAThousandWrites) {
  for (int target : {50, 300, 700}) {
    TempDir dir;
    const std::string path = dir / "db.ini";
    WriteFile(path, kInitial);
    pid_t pid = ::fork();
    if (pid == 0) {
      try {
        ProfileFile file(path);
        for (int i = 0; i < 1000; ++i)
          file.Profile_Write_String("Disc", std::to_string(i), "value-" + std::to_string(i));
      } catch (...) {
      }
      ::_exit(0);
    }
    // Every version seen while it is written is a whole state, and never an older one.
    int seen = 0;
    while (seen < target) {
      const int k = WhichState(ReadFile(path));
      ASSERT_GE(k, seen) << "torn file, or the file went back";
      seen = k;
    }
    ::kill(pid, SIGKILL);
    int status = 0;
    ::waitpid(pid, &status, 0);
    EXPECT_TRUE(WIFSIGNALED(status)) << "the writer finished before it was killed";

    const int k = WhichState(ReadFile(path));
    ASSERT_GE(k, seen) << "after the kill the file is no state before or after a write";
    // The next writer gets the lock the kernel freed and removes what the dead writer left.
    ProfileFile(path).Profile_Write_String("Disc", std::to_string(k), "value-" + std::to_string(k));
    EXPECT_EQ(ReadFile(path), StateAfter(k + 1));
    EXPECT_EQ(ListDir(dir.path()), kFileAndLock);
  }
}

TEST(ProfileFault, TwoProcessesWritingFiveHundredKeysEach) {
  TempDir dir;
  const std::string path = dir / "db.ini";
  WriteFile(path, "[Both]\r\nstart=1\r\n");
  int gate[2];
  ASSERT_EQ(::pipe(gate), 0);
  std::vector<pid_t> writers;
  for (char prefix : {'a', 'b'}) {
    if (pid_t pid = ::fork(); pid != 0) {
      writers.push_back(pid);
      continue;
    }
    ::close(gate[1]);
    char c;
    (void)::read(gate[0], &c, 1);  // returns when the parent closes its end: both start at once
    try {
      ProfileFile file(path);
      for (int i = 0; i < 500; ++i) {
        const std::string key = prefix + std::to_string(i);
        file.Profile_Write_String("Both", key, "v" + key);
      }
    } catch (...) {
      ::_exit(1);
    }
    ::_exit(0);
  }
  ::close(gate[0]);
  ::close(gate[1]);
  for (pid_t pid : writers) {
    int status = 0;
    ::waitpid(pid, &status, 0);
    EXPECT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) == 0);
  }
  ProfileFile::Clear_Cache();
  ProfileFile file(path);
  int present = 0;
  for (char prefix : {'a', 'b'})
    for (int i = 0; i < 500; ++i) {
      const std::string key = prefix + std::to_string(i);
      present += file.Profile_Read_String("Both", key, "") == "v" + key;
    }
  EXPECT_EQ(present, 1000);
  const std::string bytes = ReadFile(path);
  EXPECT_EQ(std::count(bytes.begin(), bytes.end(), '\n'), 1002);  // nothing twice
  EXPECT_EQ(ListDir(dir.path()), kFileAndLock);
}

}  // namespace
