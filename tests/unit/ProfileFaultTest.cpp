// Faults: read-only folders and files, files a rename would lose something of (their links, mode
// or owner), links, a missing folder, a full file system, files that are not regular files, a
// writer killed in the middle of its writes, writers racing. A failed write leaves the file as it
// was and nothing beside it.
#include <signal.h>
#include <sys/mount.h>

#include <algorithm>

#include "ProfileTestSupport.h"

using namespace profile_test;

namespace {

const std::string kContent = "; kept\r\n[S]\r\nk=old\r\n";
const std::string kFileAndLock = "db.ini db.ini.lock";

// Everything in the folder and below it, in order.
std::string ListDir(const std::string& dir) {
  std::set<std::string> names;
  for (const auto& e : std::filesystem::recursive_directory_iterator(dir))
    names.insert(e.path().lexically_relative(dir).string());
  std::string list;
  for (const auto& name : names) list += (list.empty() ? "" : " ") + name;
  return list;
}

// Writes [S] k in a child (as "nobody" when asked; an alarm ends it should it block): 0 when the
// value reads back, 1 when the write was refused naming the path and the key reads as before.
int Write(const std::string& path, const std::string& value, bool unprivileged = false) {
  return ExitCode(Spawn(
      [&] {
        ::alarm(10);
        auto read = [&] {
          ProfileFile::Clear_Cache();
          return ProfileFile(path).Profile_Read_String("S", "k", "none");
        };
        const std::string before = read();
        try {
          ProfileFile(path).Profile_Write_String("S", "k", value);
        } catch (const EProfileError& e) {
          return e.what() == path + " に書き込めません" && read() == before ? 1 : 2;
        }
        return read() == value ? 0 : 2;
      },
      unprivileged));
}

struct Fault {
  const char* make;   // shell commands run in the folder, which holds db.ini with kContent
  const char* write;  // the name written to
  bool unprivileged;
  int code;                     // as Write returns it
  std::string files;            // all that is in the folder afterwards
  std::string file = "db.ini";  // takes the write (new: the umask's mode) or keeps its bytes, mode
                                // and owner; none for what is no regular file
};

// The code Write returned.
int Expect(const Fault& f) {
  SCOPED_TRACE(f.make);
  TempDir dir;
  WriteFile(dir.file("db.ini"), kContent);
  EXPECT_EQ(std::system(("cd '" + dir.path() + "' && " + f.make).c_str()), 0);
  const std::string file = dir.file(f.file), before = f.file.empty() ? "" : ReadFile(file);
  const struct stat was = Stat(file);
  const int code = Write(dir.file(f.write), "v", f.unprivileged);
  ::chmod(dir.path().c_str(), 0700);
  if (code == kSkip) return code;
  EXPECT_EQ(code, f.code);
  if (!f.file.empty()) {
    EXPECT_EQ(ReadFile(file), code == 0 ? Profile_Text_Apply(before, {{"S", "k", "v"}}) : before);
    EXPECT_EQ(Stat(file).st_mode & 07777, was.st_nlink ? was.st_mode & 07777 : 0644);
    EXPECT_EQ(Stat(file).st_uid, was.st_nlink ? was.st_uid : ::geteuid());
  }
  EXPECT_EQ(ListDir(dir.path()), f.files);
  return code;
}

TEST(ProfileFault, EachFaultLeavesTheFileWholeAndNothingBesideIt) {
  const mode_t mask = ::umask(022);
  const bool devLockBefore = ::access("/dev/zero.lock", F_OK) == 0;
  const Fault faults[] = {
      // A folder this user may not write gets no lock file and no temporary file: a file there
      // is written in place when the user may write it, else refused.
      {"chmod 444 db.ini; chmod 555 .", "db.ini", true, 1, "db.ini"},
      {"chmod 555 .", "new.ini", true, 1, "db.ini"},
      {"chmod 666 db.ini; chmod 555 .", "db.ini", true, 0, "db.ini"},
      {"touch db.ini.lock; chmod 444 db.ini; chmod 555 .", "db.ini", true, 1, kFileAndLock},
      {"chmod 444 db.ini; chmod 777 .", "db.ini", true, 1, kFileAndLock},
      // A second name stays the same file, also when the text gets shorter.
      {"ln db.ini other.ini", "db.ini", false, 0, "db.ini db.ini.lock other.ini", "other.ini"},
      // Links stay links to the file they name, which keeps its mode and gets the lock beside
      // it; temporary files of a killed writer go, other programs' files stay.
      {"chmod 640 db.ini; mkdir links; ln -s ../db.ini links/1.ini; ln -s 1.ini links/2.ini; "
       "touch .db.ini.zarncd-AbC123 .db.ini.other",
       "links/2.ini", false, 0, ".db.ini.other db.ini db.ini.lock links links/1.ini links/2.ini"},
      {"ln -s new.ini dangling.ini", "dangling.ini", false, 0,
       "dangling.ini db.ini new.ini new.ini.lock", "new.ini"},
      {"true", "not/there/db.ini", false, 1, "db.ini"},  // a missing folder is not made
      // What is no regular file reads as no file and is refused, without blocking.
      {"rm db.ini; mkfifo db.ini", "db.ini", false, 1, "db.ini", ""},
      {"ln -sf /dev/zero db.ini", "db.ini", false, 1, "db.ini", ""},
      {"rm db.ini; mkdir db.ini", "db.ini", false, 1, "db.ini", ""},
  };
  for (const Fault& f : faults) {
    if (Expect(f) == kSkip) GTEST_SKIP() << "cannot drop root privileges";
  }
  EXPECT_TRUE(devLockBefore || ::access("/dev/zero.lock", F_OK) != 0);
  ::umask(mask);
  // A rename would give the file this user's ownership: written in place.
  if (::geteuid() != 0) GTEST_SKIP() << "another user's file needs root to write";
  Expect({"chmod 666 db.ini; chmod 777 .", "db.ini", true, 0, kFileAndLock});
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
  const std::string content = "; big\r\n;" + std::string(40000, 'x') + "\r\n";  // no room for two
  WriteFile(path, content);
  EXPECT_EQ(Write(path, "changed"), 1);
  EXPECT_EQ(ReadFile(path), content);
  EXPECT_EQ(ListDir(mnt), kFileAndLock);
  // Written in place, a text that does not fit is refused before a byte changes.
  ASSERT_EQ(::link(path.c_str(), (mnt + "/link.ini").c_str()), 0);
  EXPECT_EQ(Write(path, std::string(1000, 'v')), 0);
  EXPECT_EQ(Write(path, std::string(40000, 'w')), 1);
  EXPECT_EQ(ReadFile(mnt + "/link.ini"), content + "[S]\r\nk=" + std::string(1000, 'v') + "\r\n");
}

// Writers killed in the middle of their writes leave a whole file each time; the next writer
// gets the lock the kernel freed and removes what the dead one left.
TEST(ProfileFault, WritersKilledInTheMiddleOfTheirWrites) {
  TempDir dir;
  const std::string path = dir.file("db.ini");
  std::string whole = "[Disc]\r\n";
  int keys = 0;
  for (int round = 1; round <= 3; ++round) {
    const pid_t pid = Spawn([&] {
      for (int i = keys; i < 100000; ++i)
        ProfileFile(path).Profile_Write_String("Disc", std::to_string(i), "v");
      return 0;
    });
    ASSERT_TRUE(testsupport::WaitFor([&] { return Stat(path).st_size > 700 * round; },
                                     std::chrono::seconds(60)));
    ::kill(pid, SIGKILL);
    ASSERT_EQ(ExitCode(pid), -1) << "the writer finished before it was killed";
    const std::string bytes = ReadFile(path);
    for (; whole.size() < bytes.size(); ++keys) whole += std::to_string(keys) + "=v\r\n";
    ASSERT_EQ(bytes, whole);
  }
  ProfileFile(path).Profile_Write_String("Disc", "last", "v");
  EXPECT_EQ(ReadFile(path), whole + "last=v\r\n");
  EXPECT_EQ(ListDir(dir.path()), kFileAndLock);
}

// Writers a and b start at once and write `keys` keys each into dir/db.ini, b as another user
// when asked: neither loses the other's keys, none is written twice.
void ExpectRaceLosesNothing(const TempDir& dir, int keys, bool bAsAnotherUser) {
  int gate[2];
  ASSERT_EQ(::pipe(gate), 0);
  std::vector<pid_t> writers;
  for (char prefix : {'a', 'b'})
    writers.push_back(Spawn(
        [&, prefix] {
          ::close(gate[1]);
          char c;
          (void)::read(gate[0], &c, 1);  // returns when every writing end is closed: both start
          ProfileFile file(dir.file("db.ini"));
          for (int i = 0; i < keys; ++i)
            file.Profile_Write_String("Both", prefix + std::to_string(i), "v");
          return 0;
        },
        prefix == 'b' && bAsAnotherUser));
  ::close(gate[0]);
  ::close(gate[1]);
  for (pid_t pid : writers) EXPECT_EQ(ExitCode(pid), 0);
  const std::string bytes = ReadFile(dir.file("db.ini"));
  for (char prefix : {'a', 'b'})
    for (int i = 0; i < keys; ++i)
      EXPECT_NE(bytes.find("\r\n" + (prefix + std::to_string(i)) + "=v\r\n"), std::string::npos);
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
