// CUE sheets as people keep them: one disc of tones split into files every usual way reads back
// sample for sample as the single BIN does, with the same table of contents and so the same
// identity. The playback tests play and hear such an image.
#include <gtest/gtest.h>
#include <sndfile.h>

#include <algorithm>
#include <cdio/cdio.h>
#include <filesystem>
#include <fstream>
#include <random>

#include <QtGlobal>

#include "playback/CueImage.h"
#include "playback/DriveIo.h"
#include "support/Servers.h"

namespace {
using testsupport::ToneTrack;

// Tones of 3 s, a data track of 1 s: tracks at sectors 0, 225, 450, 525; leadout 750.
const std::vector<ToneTrack> kDisc = {{3, 440}, {3, 620}, {1, 3000, 0, true}, {3, 830}};
constexpr std::int32_t kGap = 38;  // track 2's INDEX 00, half a second before its INDEX 01

struct DataFile {
  std::string name;  // as the sheet writes it
  std::string type;  // BINARY, MOTOROLA, WAVE
  std::int32_t first, end;
  std::string onDisk = {};  // when it differs from name
};

class CueLayouts : public ::testing::Test {
 protected:
  void SetUp() override {
    reference_ = testsupport::WriteToneImage(dir_.path(), "tones", kDisc);
    disc_ = testsupport::Slurp(dir_.file("tones.bin"));
    CdIo_t* cdio = OpenCdioImage(reference_, nullptr);
    ASSERT_TRUE(cdio);
    toc_ = *ReadCdioToc(cdio);
    cdio_destroy(cdio);
  }

  // The disc as the given files, with a sheet naming them; returns the sheet's path.
  std::string write(const std::string& sheet, const std::vector<DataFile>& files) {
    std::vector<std::tuple<std::int32_t, int, int>> indices;  // sector, track, index
    for (int t = 1; t <= toc_.TrackCount(); ++t) {
      if (t == 2) indices.emplace_back(toc_.TrackStart(t) - kGap, t, 0);
      indices.emplace_back(toc_.TrackStart(t), t, 1);
    }
    std::ofstream cue(dir_.file(sheet));
    int track = 0;
    for (const DataFile& p : files) {
      writeFile(p);
      cue << "FILE \"" << p.name << "\" " << p.type << "\n";
      for (const auto& [sector, t, index] : indices) {
        if (sector < p.first || sector >= p.end) continue;
        char line[96];
        if (t != track) cue << "  TRACK 0" << t << (toc_.IsAudio(t) ? " AUDIO\n" : " MODE1/2352\n");
        track = t;
        const std::int32_t at = sector - p.first;
        std::snprintf(line, sizeof line, "    INDEX %02d %02d:%02d:%02d\n", index, at / 4500,
                      at / 75 % 60, at % 75);
        cue << line;
      }
    }
    return dir_.file(sheet);
  }

  void writeFile(const DataFile& p) {
    const std::string path = dir_.file(p.onDisk.empty() ? p.name : p.onDisk);
    SF_INFO info{};
    info.samplerate = 44100;
    info.channels = 2;
    info.format = SF_FORMAT_PCM_16 | (p.type == "MOTOROLA"        ? SF_FORMAT_RAW | SF_ENDIAN_BIG
                                      : p.type == "BINARY"        ? SF_FORMAT_RAW | SF_ENDIAN_LITTLE
                                      : p.name.ends_with(".flac") ? SF_FORMAT_FLAC
                                                                  : SF_FORMAT_WAV);
    SNDFILE* file = sf_open(path.c_str(), SFM_WRITE, &info);
    ASSERT_TRUE(file) << sf_strerror(nullptr);
    sf_writef_short(file, reinterpret_cast<const short*>(&disc_[p.first * 2352]),
                    (p.end - p.first) * 588);
    sf_close(file);
  }

  // Reads [lsn, lsn + count) through io and compares it with the single BIN.
  void expectSame(DriveIo& io, std::int32_t lsn, int count) {
    std::vector<char> out(static_cast<std::size_t>(count) * 2352);
    ASSERT_TRUE(io.readAudio(lsn, count, reinterpret_cast<std::byte*>(out.data())));
    EXPECT_TRUE(std::equal(out.begin(), out.end(), disc_.begin() + lsn * 2352))
        << "sectors " << lsn << " to " << lsn + count;
  }

  testsupport::TempDir dir_;
  std::string reference_;
  std::string disc_;
  DiscToc toc_;
};

TEST_F(CueLayouts, EveryLayoutIsTheSameDiscSampleForSampleAndAShortFileIsSilentToItsEnd) {
  const std::pair<const char*, std::vector<DataFile>> layouts[] = {
      {"album.cue", {{"ALBUM NAME.BIN", "BINARY", 0, 750, "Album Name.bin"}}},
      {"split.cue",  // each gap at the start of its track's file
       {{"01.bin", "BINARY", 0, 225 - kGap},
        {"02.bin", "BINARY", 225 - kGap, 450},
        {"03.bin", "BINARY", 450, 525},
        {"04.bin", "BINARY", 525, 750}}},
      {"wave.cue", {{"disc.wav", "WAVE", 0, 750}}},
      {"flac.cue",  // FLAC, with the data track as a BIN and track 2's gap at the end of track 1
       {{"01 Intro.flac", "WAVE", 0, 225},
        {"02.flac", "WAVE", 225, 450},
        {"03.bin", "BINARY", 450, 525},
        {"04.flac", "WAVE", 525, 750}}},
      {"motorola.cue", {{"disc.be", "MOTOROLA", 0, 750}}},
  };
  std::mt19937 random(1);
  for (const auto& [sheet, files] : layouts) {
    SCOPED_TRACE(sheet);
    auto io = MakeDiscImageIo(write(sheet, files));
    EXPECT_EQ(io->readToc(), toc_);
    for (std::int32_t lsn = 0; lsn < toc_.leadout; lsn += 75) expectSame(*io, lsn, 75);
    for (int i = 0; i < 10; ++i) {  // seeks, forward and back
      const auto lsn = static_cast<std::int32_t>(random() % 749);
      expectSame(*io, lsn, 1 + static_cast<int>(random() % std::min(75, 750 - lsn)));
    }
  }
  // The BIN named after the sheet, as libcdio read it.
  EXPECT_EQ(ReadImageToc(reference_, nullptr), toc_);

  // A file that ends early is silent to its end, and says so once.
  std::filesystem::resize_file(dir_.file("02.flac"),
                               std::filesystem::file_size(dir_.file("02.flac")) / 3);
  auto io = MakeDiscImageIo(dir_.file("flac.cue"));
  std::vector<std::byte> track(225 * 2352);
  // Said on stderr directly: the reader's thread, which says it, may outlive main() and Qt's
  // logging with it.
  static std::string throughQt;
  throughQt.clear();
  const QtMessageHandler previous =
      qInstallMessageHandler([](QtMsgType, const QMessageLogContext&, const QString& message) {
        throughQt += message.toStdString();
      });
  testing::internal::CaptureStderr();
  for (int pass = 0; pass < 2; ++pass)
    for (int s = 0; s < 225; s += 75) io->readAudio(225 + s, 75, &track[s * 2352]);
  const std::string text = testing::internal::GetCapturedStderr();
  qInstallMessageHandler(previous);
  EXPECT_EQ(throughQt, "");
  EXPECT_TRUE(std::equal(track.begin(), track.begin() + 2352 * 40,
                         reinterpret_cast<const std::byte*>(&disc_[225 * 2352])));
  EXPECT_TRUE(std::all_of(track.end() - 2352 * 75, track.end(),
                          [](std::byte b) { return b == std::byte{0}; }));
  expectSame(*io, 525, 75);  // the next file plays as before
  EXPECT_NE(text.find("02.flac ends early"), std::string::npos) << text;
  EXPECT_EQ(text.find("ends early"), text.rfind("ends early")) << text;
}

}  // namespace
