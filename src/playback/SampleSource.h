#pragma once
// One data file of a CUE sheet, read as the bytes of CD audio sectors: 16-bit little-endian
// stereo at 44.1 kHz. BINARY and MOTOROLA files are such bytes already (MOTOROLA with each
// sample's bytes swapped); WAVE, AIFF, FLAC and the like are decoded with libsndfile.
//
// Thread safety: none. A source is used by one thread at a time (the monitor thread opens
// sources to learn their lengths; the reader thread owns the ones it reads).
#include <cstddef>
#include <cstdint>
#include <memory>
#include <string>

#include "playback/CueSheet.h"

class SampleSource {
 public:
  virtual ~SampleSource() = default;

  // Opens path as a file of the given type and checks that it holds CD audio. Only a regular
  // file is taken, so that a FIFO or a device named by a sheet cannot block or stream forever.
  // Null, with the reason (not naming the file) in *error, when it cannot be played.
  static std::unique_ptr<SampleSource> Open(const std::string& path, cue::FileType type,
                                            std::string* error);

  // The length, in bytes of CD audio, as the file's size or header gives it.
  std::int64_t bytes() const { return bytes_; }
  // Reads up to size bytes from offset (a multiple of 4) into out; returns how many were read,
  // fewer where the file really ends before its stated length.
  virtual std::size_t read(std::int64_t offset, std::size_t size, std::byte* out) = 0;
  // Lets go of what reading needs (a decoder and its buffers) until the next read.
  virtual void rest() {}

 protected:
  std::int64_t bytes_ = 0;
};
