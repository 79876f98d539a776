#include <gtest/gtest.h>

#include "app/Startup.h"

namespace {

// The parser's value is what QCoreApplication decoded from the locale's encoding; the path given
// to the device must stay the bytes of the command line, here テスト in Shift-JIS.
TEST(CommandLine, NamesTheDriveOrImageByTheBytesGiven) {
  const std::string sjis = "/tmp/\x83\x65\x83\x58\x83\x67.cue";
  const std::pair<std::vector<const char*>, std::string> named[] = {
      {{"zarncd", "cdda://sr0"}, "/dev/sr0"},
      {{"zarncd", "-platform", "offscreen", "cdda:///dev/sr1"}, "/dev/sr1"},
      {{"zarncd", "--device=file:///a%20b/\xe9.cue"}, "/a b/\xe9.cue"},
      {{"zarncd", "--", "-odd.cue"}, "-odd.cue"},
      {{"zarncd", sjis.c_str()}, sjis},
      {{"zarncd"}, ""}};
  for (auto [args, device] : named) {
    const Command_Line line = Parse_Command_Line(static_cast<int>(args.size()), args.data());
    EXPECT_EQ(line.action, Command_Line::Action::Run) << line.error;
    EXPECT_EQ(line.device, device);
  }
}

}  // namespace
