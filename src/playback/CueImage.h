#pragma once
// CUE sheets with their data files, as people keep them: any file names (found without regard
// to case when the exact name is missing, as rips made on Windows need), one file for the disc
// or one per track, BINARY, MOTOROLA, WAVE, FLAC, AIFF. The disc is the one a burner would
// write from the sheet, so its table of contents, and with it the disc's identity, is the one
// the same disc has in a drive. libcdio stays the reader for drives, cdrdao TOC files and NRG
// images.
//
// Thread safety: a CueImage is used by one thread at a time. The DriveIo below keeps the
// driver's contract: its tray calls come from any thread, readToc() from the monitor thread,
// readAudio() from the reader thread, each thread with files of its own.
#include <cstddef>
#include <cstdint>
#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "playback/DriveIo.h"
#include "playback/CueSheet.h"

class SampleSource;

class CueImage {
 public:
  // Reads the sheet and checks every file it names. Null, with the reason in *error (naming
  // the file and what is wrong with it, or the sheet's line), when the disc cannot be played.
  static std::unique_ptr<CueImage> Open(const std::string& sheetPath, std::string* error);
  ~CueImage();

  const cue::Disc& disc() const { return disc_; }
  // Reads count sectors from lsn as 16-bit little-endian stereo; false outside the disc. A
  // file that ends before its stated length reads as silence from there on, said once on
  // stderr.
  bool read(std::int32_t lsn, int count, std::byte* out);

 private:
  CueImage() = default;

  cue::Disc disc_;
  std::vector<std::string> paths_;
  std::vector<std::unique_ptr<SampleSource>> sources_;
  std::vector<bool> endedEarly_;
  int active_ = -1;  // the file read last
};

// The CUE sheet that CueImage reads for an image path: the path itself for a .cue, the sheet
// beside a .bin; empty for the images left to libcdio.
std::string CueSheetOf(const std::string& path);

// The table of contents of an image file, whoever reads it; nullopt, with the reason in
// *error, when it has no usable one.
std::optional<DiscToc> ReadImageToc(const std::string& path, std::string* error);

// MakeImageIo (an image behind a virtual tray) with CUE sheets read by CueImage.
std::unique_ptr<DriveIo> MakeDiscImageIo(const std::string& path);
