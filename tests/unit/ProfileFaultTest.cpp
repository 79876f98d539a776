// A failed write leaves the file as it was and nothing beside it.
#include <signal.h>
#include <sys/mount.h>

#include <algorithm>

#include "ProfileTestSupport.h"

using namespace profile_test;

namespace {

const std::string kContent = "; kept\r\n[S]\r\nk=old\r\n";
const std::string kFileAndLock = "db.ini db.ini.lock";

std::string ListDir(const std::string& dir) {
  namespace fs = std::filesystem;
  std::string list;
  for (const auto& e : std::set<fs::directory_entry>(fs::recursive_directory_iterator(dir), {}))
    list += " " + e.path().lexically_relative(dir).string();
  return list.substr(1);
}

// Writes [S] k in a child (as "nobody" when asked; an alarm ends it should it block): 0 when the
// value reads back, 1 when the write was refused naming the path and the key reads as before.
int Write(const std::string& path, const std::string& value, bool unprivileged = false) {
  return ExitCode(Spawn(
      [&] {
        ::alarm(10);
        auto read = [&] { return ProfileFile(path).Profile_Read_String("S", "k", "none"); };
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
  const char* make;  // shell commands run in the folder, which holds db.ini with kContent
  const char* write;
  bool unprivileged;
  int code;  // as Write returns it
  std::string files;
  std::string file = "db.ini";  // takes the write or keeps its bytes, mode and owner ("": none)
};

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
      // Read-only folder: no lock or temporary file; a writable file in it is written in place.
      {"chmod 444 db.ini; chmod 555 .", "db.ini", true, 1, "db.ini"},
      {"chmod 555 .", "new.ini", true, 1, "db.ini"},
      {"chmod 666 db.ini; chmod 555 .", "db.ini", true, 0, "db.ini"},
      {"touch db.ini.lock; chmod 444 db.ini; chmod 555 .", "db.ini", true, 1, kFileAndLock},
      {"chmod 444 db.ini; chmod 777 .", "db.ini", true, 1, kFileAndLock},
      // Root's file that another may write: a rename would take it over, so written in place.
      {"chmod 666 db.ini; chmod 777 .", "db.ini", true, 0, kFileAndLock},
      // A second name stays the same file, also when the text gets shorter.
      {"ln db.ini other.ini", "db.ini", false, 0, "db.ini db.ini.lock other.ini", "other.ini"},
      // Links keep naming the file, which keeps its mode; a killed writer's temporary file goes.
      {"chmod 640 db.ini; mkdir links; ln -s ../db.ini links/1.ini; ln -s 1.ini links/2.ini; "
       "touch .db.ini.zarncd-AbC123 .db.ini.other",
       "links/2.ini", false, 0, ".db.ini.other db.ini db.ini.lock links links/1.ini links/2.ini"},
      {"ln -s new.ini dangling.ini", "dangling.ini", false, 0,
       "dangling.ini db.ini new.ini new.ini.lock", "new.ini"},
      {"true", "not/there/db.ini", false, 1, "db.ini"},  // a missing folder is not made
      // What is no regular file reads as no file and is refused, without blocking.
      {"rm db.ini; mkfifo db.ini", "db.ini", false, 1, "db.ini", ""},
      {"ln -sf /dev/zero db.ini", "db.ini", false, 1, "db.ini", ""},
      {"rm db.ini; mkdir db.ini", "db.ini", false, 1, "db.ini", ""}};
  for (const Fault& f : faults)
    if (Expect(f) == kSkip) GTEST_SKIP() << "cannot drop root privileges";
  EXPECT_TRUE(devLockBefore || ::access("/dev/zero.lock", F_OK) != 0);
  ::umask(mask);
}

TEST(ProfileFault, FullFileSystem) {
  TempDir dir;
  const std::string mnt = dir.file("small"), path = mnt + "/db.ini";
  ::mkdir(mnt.c_str(), 0755);
  if (::mount("tmpfs", mnt.c_str(), "tmpfs", 0, "size=64k") != 0)
    GTEST_SKIP() << "cannot mount a tmpfs: " << std::strerror(errno);
  const std::shared_ptr<void> unmount(nullptr, [&](void*) { ::umount2(mnt.c_str(), MNT_DETACH); });
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

// Two writers race, the second (when root) as another user whom only the file's own lock
// guards; the first is killed in the middle of its writes, its lock freed by the kernel.
TEST(ProfileFault, RacingWritersOneKilledLoseNothing) {
  TempDir dir;
  const std::string path = dir.file("db.ini");
  WriteFile(path, "[Both]\r\nstart=1\r\n");
  WriteFile(path + ".lock", "");
  ::chmod(path.c_str(), 0666);
  ::chmod((path + ".lock").c_str(), 0600);
  ::chmod(dir.path().c_str(), 0755);
  int gate[2];
  ASSERT_EQ(::pipe(gate), 0);
  pid_t writers[2];
  for (int w : {0, 1})
    writers[w] = Spawn(
        [&] {
          ::close(gate[1]);
          char c;
          (void)::read(gate[0], &c, 1);  // returns when every writing end is closed: both start
          for (int i = 0; i < (w ? 100 : 1000000); ++i)
            ProfileFile(path).Profile_Write_String("Both", "ab"[w] + std::to_string(i), "v");
          return 0;
        },
        w == 1);
  ::close(gate[0]);
  ::close(gate[1]);
  EXPECT_TRUE(
      testsupport::WaitFor([&] { return Stat(path).st_size > 1000; }, std::chrono::seconds(60)));
  ::kill(writers[0], SIGKILL);
  EXPECT_EQ(ExitCode(writers[0]), -1);
  const int code = ExitCode(writers[1]);
  if (code == kSkip) GTEST_SKIP() << "cannot drop root privileges";
  EXPECT_EQ(code, 0);
  ProfileFile(path).Profile_Write_String("Both", "last", "v");
  const std::string bytes = ReadFile(path);
  const int lines = static_cast<int>(std::count(bytes.begin(), bytes.end(), '\n'));
  for (int w : {0, 1})
    for (int i = 0; i < (w ? 100 : lines - 103); ++i)
      EXPECT_NE(bytes.find("\r\n" + ("ab"[w] + std::to_string(i)) + "=v\r\n"), std::string::npos);
  EXPECT_EQ(ListDir(dir.path()), kFileAndLock);
}

}  // namespace
