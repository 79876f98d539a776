// Profiles that are not regular files (a FIFO, a device behind a symbolic link, a directory)
// read as no file and are refused for writing with the usual error, without blocking and without
// anything made beside them. The cases run in a child process with an alarm, so that a file that
// blocks fails the test instead of hanging it.
#include <gtest/gtest.h>
#include <signal.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <string>

#include "ProfileTestSupport.h"
#include "profile/ProfileFile.h"
#include "disc/Ucdobj.h"
#include "settings/PlayerSettings.h"

using namespace profile_test;

namespace {

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
    refused += std::string(e.what()) == db + " に書き込めません";
  }
  try {
    Write_Settings(settings, Exit_Settings_Update(true, true, stored.Player));
  } catch (const EProfileError& e) {
    refused += std::string(e.what()) == settings + " に書き込めません";
  }
  return refused == 2 ? 0 : 3;
}

// The child's result, or -1 when it was still blocked after ten seconds.
int InAChildWithAnAlarm(const std::string& db, const std::string& settings) {
  pid_t pid = ::fork();
  if (pid == 0) {
    ::alarm(10);
    ::_exit(ReadDefaultsAndRefuseWrites(db, settings));
  }
  int status = 0;
  ::waitpid(pid, &status, 0);
  return WIFEXITED(status) ? WEXITSTATUS(status) : -1;
}

TEST(ProfileSpecialFile, NotARegularFileNeitherBlocksNorGetsALockFile) {
  TempDir dir;
  const std::string db = dir / "cdplayer.ini", settings = dir / "ZarnCD.ini";
  const std::set<std::string> both = {"ZarnCD.ini", "cdplayer.ini"};

  ASSERT_EQ(::mkfifo(db.c_str(), 0666), 0);
  ASSERT_EQ(::mkfifo(settings.c_str(), 0666), 0);
  EXPECT_EQ(InAChildWithAnAlarm(db, settings), 0) << "FIFO";
  EXPECT_EQ(ListDir(dir.path()), both);
  ::unlink(db.c_str());
  ::unlink(settings.c_str());

  // As root a lock file beside the link's target would land in /dev.
  const bool lockBefore = ::access("/dev/zero.lock", F_OK) == 0;
  ASSERT_EQ(::symlink("/dev/zero", db.c_str()), 0);
  ASSERT_EQ(::symlink("/dev/zero", settings.c_str()), 0);
  EXPECT_EQ(InAChildWithAnAlarm(db, settings), 0) << "/dev/zero";
  EXPECT_EQ(ListDir(dir.path()), both);
  if (!lockBefore) {
    EXPECT_NE(::access("/dev/zero.lock", F_OK), 0);
  }
  ::unlink(db.c_str());
  ::unlink(settings.c_str());

  ASSERT_EQ(::mkdir(db.c_str(), 0755), 0);
  ASSERT_EQ(::mkdir(settings.c_str(), 0755), 0);
  EXPECT_EQ(InAChildWithAnAlarm(db, settings), 0) << "directory";
  EXPECT_EQ(ListDir(dir.path()), both);
}

}  // namespace
