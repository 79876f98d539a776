// Faults: read-only folders and files, files a rename would lose something of (their links or
// owner: written in place), a missing folder, a full file system, files that are not regular
// files, a writer killed in the middle of its writes, writers racing. A failed write leaves the
// file as it was.
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
#include "disc/Ucdobj.h"
#include "profile/ProfileFile.h"
#include "settings/PlayerSettings.h"

using namespace profile_test;

namespace {

const std::string kContent = "; kept\r\n[S]\r\nk=old\r\n";
const std::set<std::string> kFileAndLock = {"db.ini", "db.ini.lock"};

std::string Refusal(const std::string& path) {
  return path + " に書き込めません";
}

// 0 when writing [S] k succeeded and reads back, 1 when it was refused with the message naming
// the path (its errno in *error), 2 on anything else.
int Write(const std::string& path, const std::string& value, int* error = nullptr) {
  try {
    ProfileFile(path).Profile_Write_String("S", "k", value);
    ProfileFile::Clear_Cache();
    return ProfileFile(path).Profile_Read_String("S", "k", "") == value ? 0 : 2;
  } catch (const EProfileError& e) {
    if (error) *error = e.error();
    return e.what() == Refusal(path) ? 1 : 2;
  } catch (...) {
    return 2;
  }
}

// A folder this user may not write gets no lock file and no temporary file: a file there is
// written in place when the user may write it, else refused. A file with a second name, or
// another user's, is written in place too.
TEST(ProfileFault, ReadOnlyFoldersAndFilesAndWhatARenameWouldLose) {
  TempDir dir;
  const std::string path = dir.file("db.ini");
  auto modes = [&](mode_t file, mode_t folder) {
    ::chmod(path.c_str(), file);
    ::chmod(dir.path().c_str(), folder);
  };
  WriteFile(path, kContent);
  modes(0444, 0555);
  const int code = RunUnprivileged([&] {
    return ProfileFile(path).Profile_Read_String("S", "k", "") == "old" ? Write(path, "x") : 3;
  });
  if (code == kSkip) GTEST_SKIP() << "cannot drop root privileges";
  EXPECT_EQ(code, 1);
  EXPECT_EQ(RunUnprivileged([&] { return Write(dir.file("new.ini"), "x"); }), 1);
  ::chmod(path.c_str(), 0666);
  EXPECT_EQ(RunUnprivileged([&] { return Write(path, "in a read-only folder"); }), 0);
  EXPECT_EQ(ListDir(dir.path()), std::set<std::string>{"db.ini"});

  // With the lock file of an earlier write there, the refusal comes later.
  modes(0644, 0755);
  ASSERT_EQ(Write(path, "old"), 0);
  modes(0444, 0555);
  EXPECT_EQ(RunUnprivileged([&] { return Write(path, "x"); }), 1);
  // A read-only file in a writable folder is not replaced either.
  modes(0444, 0777);
  EXPECT_EQ(RunUnprivileged([&] { return Write(path, "x"); }), 1);
  EXPECT_EQ(ReadFile(path), kContent);
  EXPECT_EQ(ListDir(dir.path()), kFileAndLock);

  ::chmod(path.c_str(), 0666);
  // A second name stays the same file, also when the text gets shorter.
  const ino_t inode = Stat(path).st_ino;
  ASSERT_EQ(::link(path.c_str(), dir.file("other-name.ini").c_str()), 0);
  EXPECT_EQ(Write(path, "through a hard link"), 0);
  EXPECT_EQ(Write(path, "short"), 0);
  EXPECT_EQ(ReadFile(dir.file("other-name.ini")), "; kept\r\n[S]\r\nk=short\r\n");
  EXPECT_EQ(Stat(path).st_ino, inode);
  if (::geteuid() != 0) GTEST_SKIP() << "another user's file needs root to write";
  EXPECT_EQ(RunUnprivileged([&] { return Write(path, "by another user"); }), 0);
  EXPECT_EQ(Stat(path).st_uid, 0u);
}

// A replaced file keeps its mode, a new one follows the umask; a symbolic link stays a link to
// the file it names, which gets the lock beside it; temporary files of a killed writer go, other
// programs' files stay. A missing folder is not made.
TEST(ProfileFault, ReplacingKeepsModesAndLinksAndRemovesOnlyOurStaleCopies) {
  TempDir dir;
  const mode_t mask = ::umask(022);
  ::mkdir(dir.file("real").c_str(), 0755);
  WriteFile(dir.file("real/db.ini"), kContent);
  ::chmod(dir.file("real/db.ini").c_str(), 0640);
  WriteFile(dir.file("real/.db.ini.zarncd-AbC123"), "half written");
  WriteFile(dir.file("real/.db.ini.other"), "not ours");
  ASSERT_EQ(::symlink("real/db.ini", dir.file("link1.ini").c_str()), 0);
  ASSERT_EQ(::symlink(dir.file("link1.ini").c_str(), dir.file("link2.ini").c_str()), 0);
  ASSERT_EQ(::symlink("real/new.ini", dir.file("dangling.ini").c_str()), 0);
  EXPECT_EQ(Write(dir.file("link2.ini"), "through links"), 0);
  EXPECT_EQ(Write(dir.file("dangling.ini"), "v"), 0);
  ::umask(mask);
  EXPECT_EQ(ReadFile(dir.file("real/db.ini")), "; kept\r\n[S]\r\nk=through links\r\n");
  EXPECT_EQ(Stat(dir.file("real/db.ini")).st_mode & 07777, 0640u);
  EXPECT_EQ(Stat(dir.file("real/new.ini")).st_mode & 07777, 0644u);
  EXPECT_EQ(
      ListDir(dir.file("real")),
      (std::set<std::string>{".db.ini.other", "db.ini", "db.ini.lock", "new.ini", "new.ini.lock"}));
  for (const char* link : {"link1.ini", "link2.ini", "dangling.ini"}) {
    struct stat st {};
    ASSERT_EQ(::lstat(dir.file(link).c_str(), &st), 0);
    EXPECT_TRUE(S_ISLNK(st.st_mode)) << link;
  }
  EXPECT_EQ(Write(dir.file("not/there/db.ini"), "x"), 1);
  EXPECT_FALSE(std::filesystem::exists(dir.file("not")));
}

TEST(ProfileFault, FullFileSystem) {
  TempDir dir;
  const std::string mnt = dir.file("small"), path = mnt + "/db.ini";
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
  int error = 0;
  EXPECT_EQ(Write(path, "changed", &error), 1);
  EXPECT_EQ(error, ENOSPC);
  EXPECT_EQ(ReadFile(path), content);
  EXPECT_EQ(ListDir(mnt), kFileAndLock);
  // Written in place, a text that does not fit is refused before a byte changes.
  ASSERT_EQ(::link(path.c_str(), (mnt + "/link.ini").c_str()), 0);
  EXPECT_EQ(Write(path, std::string(1000, 'v')), 0);
  EXPECT_EQ(Write(path, std::string(40000, 'w')), 1);
  EXPECT_EQ(ReadFile(mnt + "/link.ini"), content + "[S]\r\nk=" + std::string(1000, 'v') + "\r\n");
}

// 0 when the disc database and the settings at these paths read as their defaults and refuse
// their saves with the usual message; else the number of the first step that went wrong.
int ReadDefaultsAndRefuseWrites(const std::string& db, const std::string& settings) {
  CD_Object cd(db);
  cd.Read_Disc_Info("ABCDEF", 2);
  if (cd.Num_Tracks != 2 || cd.Artist != cd_defaults::kArtist) return 1;
  const TStoredSettings stored = Read_Settings(ProfileFile(settings).Read_Snapshot());
  if (stored.Player.TallHeight != 450) return 2;
  int refused = 0;
  try {
    cd.Write_Disc_Info();
  } catch (const EProfileError& e) {
    refused += e.what() == Refusal(db);
  }
  try {
    Write_Settings(settings, Exit_Settings_Update(true, true, stored.Player));
  } catch (const EProfileError& e) {
    refused += e.what() == Refusal(settings);
  }
  return refused == 2 ? 0 : 3;
}

// A FIFO, a device behind a symbolic link and a folder read as no file and are refused for
// writing, without blocking (an alarm ends a child that blocks) and without a lock file beside
// them, or, as root, in /dev beside the link's target.
TEST(ProfileFault, NotARegularFileNeitherBlocksNorGetsALockFile) {
  TempDir dir;
  const std::string db = dir.file("cdplayer.ini"), settings = dir.file("ZarnCD.ini");
  const bool lockBefore = ::access("/dev/zero.lock", F_OK) == 0;
  const std::pair<const char*, std::function<int(const std::string&)>> kinds[] = {
      {"FIFO", [](const std::string& p) { return ::mkfifo(p.c_str(), 0666); }},
      {"/dev/zero", [](const std::string& p) { return ::symlink("/dev/zero", p.c_str()); }},
      {"folder", [](const std::string& p) { return ::mkdir(p.c_str(), 0755); }}};
  for (const auto& [kind, make] : kinds) {
    ASSERT_EQ(make(db) | make(settings), 0) << kind;
    EXPECT_EQ(ExitCode(Spawn([&] {
                ::alarm(10);
                return ReadDefaultsAndRefuseWrites(db, settings);
              })),
              0)
        << kind;
    EXPECT_EQ(ListDir(dir.path()), (std::set<std::string>{"ZarnCD.ini", "cdplayer.ini"}));
    std::filesystem::remove(db);
    std::filesystem::remove(settings);
  }
  if (!lockBefore) {
    EXPECT_NE(::access("/dev/zero.lock", F_OK), 0);
  }
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
    const std::string path = dir.file("db.ini");
    WriteFile(path, kInitial);
    const pid_t pid = Spawn([&] {
      ProfileFile file(path);
      for (int i = 0; i < 1000; ++i)
        file.Profile_Write_String("Disc", std::to_string(i), "value-" + std::to_string(i));
      return 0;
    });
    // Every version seen while it is written is a whole state, and never an older one.
    int seen = 0;
    while (seen < target) {
      const int k = WhichState(ReadFile(path));
      ASSERT_GE(k, seen) << "torn file, or the file went back";
      seen = k;
    }
    ::kill(pid, SIGKILL);
    EXPECT_EQ(ExitCode(pid), -1) << "the writer finished before it was killed";

    const int k = WhichState(ReadFile(path));
    ASSERT_GE(k, seen) << "after the kill the file is no state before or after a write";
    // The next writer gets the lock the kernel freed and removes what the dead writer left.
    ProfileFile(path).Profile_Write_String("Disc", std::to_string(k), "value-" + std::to_string(k));
    EXPECT_EQ(ReadFile(path), StateAfter(k + 1));
    EXPECT_EQ(ListDir(dir.path()), kFileAndLock);
  }
}

// Writers a and b start at once and write `keys` keys each into dir/db.ini, b as another user
// when asked: neither loses the other's keys, none is written twice.
void ExpectRaceLosesNothing(const TempDir& dir, int keys, bool bAsAnotherUser) {
  const std::string path = dir.file("db.ini");
  int gate[2];
  ASSERT_EQ(::pipe(gate), 0);
  std::vector<pid_t> writers;
  for (char prefix : {'a', 'b'}) {
    auto writer = [&, prefix] {
      char c;
      (void)::read(gate[0], &c, 1);  // returns when every writing end is closed: both start
      ProfileFile file(path);
      for (int i = 0; i < keys; ++i) {
        const std::string key = prefix + std::to_string(i);
        file.Profile_Write_String("Both", key, "v" + key);
      }
      return 0;
    };
    writers.push_back(Spawn([&] {
      ::close(gate[1]);
      return prefix == 'b' && bAsAnotherUser ? RunUnprivileged(writer) : writer();
    }));
  }
  ::close(gate[0]);
  ::close(gate[1]);
  for (pid_t pid : writers) EXPECT_EQ(ExitCode(pid), 0);
  const std::string bytes = ReadFile(path);
  int present = 0;
  for (char prefix : {'a', 'b'})
    for (int i = 0; i < keys; ++i) {
      const std::string key = prefix + std::to_string(i);
      present += bytes.find("\r\n" + key + "=v" + key + "\r\n") != std::string::npos;
    }
  EXPECT_EQ(present, 2 * keys);
  EXPECT_EQ(std::count(bytes.begin(), bytes.end(), '\n'), 2 * keys + 2);
  EXPECT_EQ(ListDir(dir.path()), kFileAndLock);
}

TEST(ProfileFault, TwoWritersRacingLoseNothing) {
  TempDir dir;
  WriteFile(dir.file("db.ini"), "[Both]\r\nstart=1\r\n");
  ExpectRaceLosesNothing(dir, 500, false);
  // One writer (root: lock file, rename) against one in place: another user for whom the folder
  // is read-only and the lock file closed, who has only the file's own lock.
  if (::geteuid() != 0) GTEST_SKIP() << "racing another user needs root";
  WriteFile(dir.file("db.ini"), "[Both]\r\nstart=1\r\n");
  ::chmod(dir.file("db.ini").c_str(), 0666);
  ::chmod(dir.file("db.ini.lock").c_str(), 0600);
  ::chmod(dir.path().c_str(), 0755);
  ExpectRaceLosesNothing(dir, 100, true);
}

}  // namespace
