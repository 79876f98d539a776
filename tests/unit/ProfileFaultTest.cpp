// Faults: read-only and missing directories, a full file system, a writer killed in the middle
// of its writes, two processes writing at once. A failed write leaves the file as it was.
#include <gtest/gtest.h>
#include <grp.h>
#include <signal.h>
#include <sys/mount.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>
#include <string>

#include "ProfileTestSupport.h"
#include "disc/Profile.h"

using profile_test::Exists;
using profile_test::ListDir;
using profile_test::ReadFile;
using profile_test::RunInChild;
using profile_test::TempDir;
using profile_test::WriteFile;

namespace {

constexpr int kSkip = 77;

// Root ignores permission bits: run the body as "nobody" in a child process then.
int RunUnprivileged(const std::function<int()>& body) {
  return RunInChild([&] {
    if (::geteuid() == 0) {
      if (::setgroups(0, nullptr) != 0 || ::setgid(65534) != 0 || ::setuid(65534) != 0)
        return kSkip;
    }
    return body();
  });
}

// 0 when the write raised EProfileError with the right text, else a code that says what went
// wrong.
int ExpectWriteRefused(const std::string& path) {
  try {
    ProfileFile(path).Profile_Write_String("S", "k", "new value");
  } catch (const EProfileError& e) {
    return std::string(e.what()) == path + " に書き込めません" ? 0 : 2;
  }
  return 1;
}

TEST(ProfileFault, ReadOnlyDirectory) {
  TempDir dir;
  const std::string path = dir / "db.ini";
  const std::string content = "; kept\r\n[S]\r\nk=old\r\n";
  WriteFile(path, content);
  ::chmod(path.c_str(), 0644);
  ::chmod(dir.path().c_str(), 0555);

  int code = RunUnprivileged([&] {
    if (ProfileFile(path).Profile_Read_String("S", "k", "") != "old") return 3;
    return ExpectWriteRefused(path);  // no lock file yet: it cannot even be created
  });
  if (code == kSkip) GTEST_SKIP() << "cannot drop root privileges";
  EXPECT_EQ(code, 0);

  // With a lock file already there (left by an earlier write), the refusal comes later.
  ::chmod(dir.path().c_str(), 0755);
  ProfileFile(path).Profile_Write_String("S", "k", "old");  // no change; creates the lock file
  ASSERT_TRUE(Exists(path + ".lock"));
  ::chmod(dir.path().c_str(), 0555);
  EXPECT_EQ(RunUnprivileged([&] { return ExpectWriteRefused(path); }), 0);

  EXPECT_EQ(ReadFile(path), content);
  EXPECT_EQ(ListDir(dir.path()), (std::set<std::string>{"db.ini", "db.ini.lock"}));
  ::chmod(dir.path().c_str(), 0755);
}

TEST(ProfileFault, ReadOnlyFileInAWritableDirectory) {
  TempDir dir;
  ::chmod(dir.path().c_str(), 0777);
  const std::string path = dir / "db.ini";
  WriteFile(path, "[S]\r\nk=old\r\n");
  ::chmod(path.c_str(), 0444);
  int code = RunUnprivileged([&] { return ExpectWriteRefused(path); });
  if (code == kSkip) GTEST_SKIP() << "cannot drop root privileges";
  EXPECT_EQ(code, 0);
  EXPECT_EQ(ReadFile(path), "[S]\r\nk=old\r\n");
}

TEST(ProfileFault, MissingDirectory) {
  TempDir dir;
  const std::string path = dir / "not/there/db.ini";
  EXPECT_EQ(ExpectWriteRefused(path), 0);
  EXPECT_FALSE(Exists(dir / "not"));
  EXPECT_EQ(ProfileFile(path).Profile_Read_String("S", "k", "def"), "def");
}

TEST(ProfileFault, FullFileSystem) {
  TempDir dir;
  const std::string mnt = dir / "small";
  ::mkdir(mnt.c_str(), 0755);
  if (::mount("tmpfs", mnt.c_str(), "tmpfs", 0, "size=64k") != 0)
    GTEST_SKIP() << "cannot mount a tmpfs: " << std::strerror(errno);
  struct Unmount {
    std::string at;
    ~Unmount() { ::umount2(at.c_str(), MNT_DETACH); }
  } unmount{mnt};

  // A database of about 40 KB: the new copy does not fit beside it.
  std::string content = "; big\r\n";
  for (int i = 0; content.size() < 40000; ++i)
    content.append("[")
        .append(std::to_string(i))
        .append("]\r\ntitle=")
        .append(60, 'x')
        .append("\r\n");
  const std::string path = mnt + "/db.ini";
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
  EXPECT_EQ(ListDir(mnt), (std::set<std::string>{"db.ini", "db.ini.lock"}));
  EXPECT_EQ(ProfileFile(path).Profile_Read_String("0", "title", ""), std::string(60, 'x'));

  // Once there is room again, writing works.
  WriteFile(path, "[0]\r\ntitle=x\r\n");
  ProfileFile(path).Profile_Write_String("0", "title", "changed");
  EXPECT_EQ(ReadFile(path), "[0]\r\ntitle=changed\r\n");
}

// The file after the first k of the killed writer's writes.
std::string StateAfter(const std::string& initial, int k) {
  if (k == 0) return initial;
  std::string s = initial + "[Disc]\r\n";
  for (int i = 0; i < k; ++i) s += std::to_string(i) + "=value-" + std::to_string(i) + "\r\n";
  return s;
}

// Which state the bytes are, or -1 if none.
int WhichState(const std::string& initial, const std::string& bytes) {
  if (bytes == initial) return 0;
  int k = 0;
  for (std::size_t pos = 0; (pos = bytes.find("=value-", pos)) != std::string::npos; ++pos) ++k;
  return bytes == StateAfter(initial, k) ? k : -1;
}

TEST(ProfileFault, WriterKilledInTheMiddleOfAThousandWrites) {
  const std::string initial = "; the disc database\r\n[Other]\r\nx=1\r\n";
  for (int target : {50, 300, 700}) {
    TempDir dir;
    const std::string path = dir / "db.ini";
    WriteFile(path, initial);
    pid_t pid = ::fork();
    if (pid == 0) {
      ProfileFile file(path);
      for (int i = 0; i < 1000; ++i)
        file.Profile_Write_String("Disc", std::to_string(i), "value-" + std::to_string(i));
      ::_exit(0);
    }
    // Watch the file while it is written: every version seen is a whole state.
    int seen = 0;
    while (seen < target) {
      std::string bytes = ReadFile(path);
      int k = WhichState(initial, bytes);
      ASSERT_GE(k, 0) << "torn file seen while writing";
      ASSERT_GE(k, seen) << "the file went back";
      seen = k;
      if (seen == 1000) break;
    }
    ::kill(pid, SIGKILL);
    int status = 0;
    ::waitpid(pid, &status, 0);
    EXPECT_TRUE(WIFSIGNALED(status)) << "the writer finished before it was killed";

    const std::string bytes = ReadFile(path);
    const int k = WhichState(initial, bytes);
    ASSERT_GE(k, seen) << "after the kill the file is no state before or after a write";
    ProfileFile::Clear_Cache();
    ProfileFile file(path);
    for (int i = 0; i < k; ++i)
      ASSERT_EQ(file.Profile_Read_String("Disc", std::to_string(i), ""),
                "value-" + std::to_string(i));
    EXPECT_EQ(file.Profile_Read_String("Disc", std::to_string(k), "none"), "none");
    EXPECT_EQ(file.Profile_Read_String("Other", "x", ""), "1");

    // The next writer takes the lock at once (the kernel freed the dead writer's) and removes
    // what the dead writer left behind.
    file.Profile_Write_String("Disc", std::to_string(k), "value-" + std::to_string(k));
    EXPECT_EQ(ReadFile(path), StateAfter(initial, k + 1));
    EXPECT_EQ(ListDir(dir.path()), (std::set<std::string>{"db.ini", "db.ini.lock"}));
  }
}

TEST(ProfileFault, TwoProcessesWritingFiveHundredKeysEach) {
  TempDir dir;
  const std::string path = dir / "db.ini";
  WriteFile(path, "[Both]\r\nstart=1\r\n");
  int gate[2];
  ASSERT_EQ(::pipe(gate), 0);
  auto writer = [&](char prefix) {
    pid_t pid = ::fork();
    if (pid == 0) {
      ::close(gate[1]);
      char c;
      (void)::read(gate[0], &c, 1);  // returns when the parent closes its end: both start at once
      try {
        ProfileFile file(path);
        for (int i = 0; i < 500; ++i) {
          std::string key = prefix + std::to_string(i);
          file.Profile_Write_String("Both", key, "v" + key);
        }
      } catch (...) {
        ::_exit(1);
      }
      ::_exit(0);
    }
    return pid;
  };
  pid_t a = writer('a');
  pid_t b = writer('b');
  ::close(gate[0]);
  ::close(gate[1]);
  for (pid_t pid : {a, b}) {
    int status = 0;
    ::waitpid(pid, &status, 0);
    EXPECT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) == 0);
  }
  ProfileFile::Clear_Cache();
  ProfileFile file(path);
  int present = 0;
  for (char prefix : {'a', 'b'}) {
    for (int i = 0; i < 500; ++i) {
      std::string key = prefix + std::to_string(i);
      present += file.Profile_Read_String("Both", key, "") == "v" + key;
    }
  }
  EXPECT_EQ(present, 1000);
  const std::string bytes = ReadFile(path);
  std::size_t lines = 0;
  for (char c : bytes) lines += c == '\n';
  EXPECT_EQ(lines, 1002u);  // header, "start" and the thousand keys, nothing twice
  EXPECT_EQ(ListDir(dir.path()), (std::set<std::string>{"db.ini", "db.ini.lock"}));
}

}  // namespace
