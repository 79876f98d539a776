// A path on the command line stays the bytes it is: an image whose name is Shift-JIS, not UTF-8,
// reaches the device layer and opens, with the BIN named after the sheet as its FILE line names
// nothing there.
#include <gtest/gtest.h>

#include <fstream>
#include <string>
#include <vector>

#include <QString>

#include "app/Startup.h"
#include "device/CdAudioDevice.h"
#include "device/CdioDriver.h"
#include "device/DriveIo.h"
#include "support/Servers.h"

namespace {

TEST(CommandLine, ShiftJisImageNameOpens) {
  testsupport::TempDir dir;
  const std::string stem = dir.file("\x83\x65\x83\x58\x83\x67");  // テスト in Shift-JIS
  const std::string cue = stem + ".cue";
  std::ofstream(stem + ".bin", std::ios::binary)
      << std::string(300 * static_cast<std::size_t>(kBytesPerSector), '\0');
  std::ofstream(cue) << "FILE \"x.bin\" BINARY\n  TRACK 01 AUDIO\n    INDEX 01 00:00:00\n";

  // The parser's value is what QCoreApplication decoded from the locale's encoding.
  const QString parsed = QString::fromLocal8Bit(cue.data(), static_cast<qsizetype>(cue.size()));
  for (const std::vector<std::string>& args :
       {std::vector<std::string>{"zarncd", "--device", cue},
        std::vector<std::string>{"zarncd", "--device=" + cue, "--", "--device=other"}}) {
    std::vector<const char*> argv;
    for (const std::string& a : args) argv.push_back(a.c_str());
    const std::string path =
        Command_Line_Path(static_cast<int>(argv.size()), argv.data(), "device", parsed);
    ASSERT_EQ(path, cue);
    CdAudioDevice player(std::make_unique<CdioDriver>(path));
    EXPECT_NO_THROW(player.Device_Open());
    EXPECT_EQ(player.Device_Tracks(), 1u);
  }
}

}  // namespace
