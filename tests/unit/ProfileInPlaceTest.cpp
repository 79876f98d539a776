// Writing in place: a file that a rename would lose something of (its folder refuses the new
// file, it has a second name, its owner cannot be given to a new file) is written where it is,
// and writers in place and writers that replace the file still exclude each other.
#include <gtest/gtest.h>
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

const std::string kContent = "; kept\r\n[S]\r\nk=old\r\n";

ino_t Inode(const std::string& path) {
  struct stat st {};
  return ::stat(path.c_str(), &st) == 0 ? st.st_ino : 0;
}

// 0 when the write succeeded and reads back, 1 when it was refused, 2 on anything else.
int Write(const std::string& path, const std::string& value) {
  try {
    ProfileFile(path).Profile_Write_String("S", "k", value);
    ProfileFile::Clear_Cache();
    return ProfileFile(path).Profile_Read_String("S", "k", "") == value ? 0 : 2;
  } catch (const EProfileError&) {
    return 1;
  } catch (...) {
    return 2;
  }
}

TEST(ProfileInPlace, WhatARenameWouldLoseIsWrittenInPlace) {
  TempDir dir;
  const std::string path = dir / "db.ini";
  WriteFile(path, kContent);
  const ino_t inode = Inode(path);

  // A writable file in a folder this user may not write: no lock file, no temporary file.
  ::chmod(path.c_str(), 0666);
  ::chmod(dir.path().c_str(), 0555);
  const int code = RunUnprivileged([&] { return Write(path, "in a read-only folder"); });
  if (code == kSkip) GTEST_SKIP() << "cannot drop root privileges";
  EXPECT_EQ(code, 0);
  EXPECT_EQ(ListDir(dir.path()), std::set<std::string>{"db.ini"});
  // A missing file cannot be made there, and a read-only file is still refused.
  EXPECT_EQ(RunUnprivileged([&] { return Write(dir / "new.ini", "x"); }), 1);
  ::chmod(path.c_str(), 0444);
  EXPECT_EQ(RunUnprivileged([&] { return Write(path, "refused"); }), 1);
  ::chmod(path.c_str(), 0666);
  ::chmod(dir.path().c_str(), 0777);

  // Root's file that another user may write keeps its owner.
  if (::geteuid() == 0) {
    EXPECT_EQ(RunUnprivileged([&] { return Write(path, "by another user"); }), 0);
    struct stat st {};
    ASSERT_EQ(::stat(path.c_str(), &st), 0);
    EXPECT_EQ(st.st_uid, 0u);
  }

  // A second name stays the same file, also when the text gets shorter.
  const std::string other = dir / "other-name.ini";
  ASSERT_EQ(::link(path.c_str(), other.c_str()), 0);
  EXPECT_EQ(Write(path, "through a hard link"), 0);
  EXPECT_EQ(Write(path, "short"), 0);
  EXPECT_EQ(ReadFile(other), "; kept\r\n[S]\r\nk=short\r\n");
  EXPECT_EQ(Inode(path), inode);
  EXPECT_EQ(Inode(other), inode);

  // In place on a full file system, the file is refused before a byte changes.
  const std::string mnt = dir / "small";
  ::mkdir(mnt.c_str(), 0755);
  if (::mount("tmpfs", mnt.c_str(), "tmpfs", 0, "size=64k") != 0) return;
  struct Unmount {
    std::string at;
    ~Unmount() { ::umount2(at.c_str(), MNT_DETACH); }
  } unmount{mnt};
  const std::string big = std::string(40000, ';') + "\r\n[S]\r\nk=old\r\n";
  WriteFile(mnt + "/db.ini", big);
  ASSERT_EQ(::link((mnt + "/db.ini").c_str(), (mnt + "/link.ini").c_str()), 0);
  EXPECT_EQ(Write(mnt + "/db.ini", std::string(1000, 'v')), 0);
  EXPECT_EQ(Write(mnt + "/db.ini", std::string(40000, 'w')), 1);
  EXPECT_EQ(ReadFile(mnt + "/link.ini"),
            std::string(40000, ';') + "\r\n[S]\r\nk=" + std::string(1000, 'v') + "\r\n");
}

// One writer as root (lock file, rename), one as a user for whom the folder is read-only and the
// lock file closed (only the file's own lock, in place): neither loses the other's keys.
TEST(ProfileInPlace, InPlaceAndReplacingWritersLoseNothing) {
  if (::geteuid() != 0) GTEST_SKIP() << "needs root for two users";
  TempDir dir;
  const std::string path = dir / "db.ini";
  WriteFile(path, "[Both]\r\nstart=1\r\n");
  WriteFile(dir / "db.ini.lock", "");
  ::chmod(path.c_str(), 0666);
  ::chmod((dir / "db.ini.lock").c_str(), 0600);
  ::chmod(dir.path().c_str(), 0755);
  constexpr int kKeys = 100;
  int gate[2];
  ASSERT_EQ(::pipe(gate), 0);
  auto writer = [&](char prefix) {
    ::close(gate[1]);
    char c;
    (void)::read(gate[0], &c, 1);  // returns when every writing end is closed: both start at once
    try {
      ProfileFile file(path);
      for (int i = 0; i < kKeys; ++i) {
        const std::string key = prefix + std::to_string(i);
        file.Profile_Write_String("Both", key, "v" + key);
      }
    } catch (...) {
      return 1;
    }
    return 0;
  };
  std::vector<pid_t> writers;
  for (char prefix : {'a', 'b'}) {
    if (pid_t pid = ::fork(); pid != 0) {
      writers.push_back(pid);
      continue;
    }
    ::close(gate[1]);
    ::_exit(prefix == 'a' ? writer(prefix) : RunUnprivileged([&] { return writer(prefix); }));
  }
  ::close(gate[0]);
  ::close(gate[1]);
  for (pid_t pid : writers) {
    int status = 0;
    ::waitpid(pid, &status, 0);
    EXPECT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) == 0) << status;
  }
  const std::string bytes = ReadFile(path);
  for (char prefix : {'a', 'b'})
    for (int i = 0; i < kKeys; ++i) {
      const std::string key = prefix + std::to_string(i);
      EXPECT_NE(bytes.find("\r\n" + key + "=v" + key + "\r\n"), std::string::npos) << key;
    }
  EXPECT_EQ(std::count(bytes.begin(), bytes.end(), '\n'), 2 * kKeys + 2);
}

}  // namespace
