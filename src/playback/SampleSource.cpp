#include "playback/SampleSource.h"

#include <fcntl.h>
#include <sndfile.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <bit>
#include <cerrno>
#include <cstring>
#include <vector>

namespace {

// O_NONBLOCK, so that opening a FIFO returns at once instead of waiting for a writer.
int OpenRegularFile(const std::string& path, std::string* error) {
  const int fd = ::open(path.c_str(), O_RDONLY | O_NONBLOCK | O_CLOEXEC);
  if (fd < 0) {
    if (error) *error = std::strerror(errno);
    return -1;
  }
  struct stat st {};
  if (::fstat(fd, &st) != 0 || !S_ISREG(st.st_mode)) {
    if (error) *error = "not a regular file";
    ::close(fd);
    return -1;
  }
  ::fcntl(fd, F_SETFL, ::fcntl(fd, F_GETFL) & ~O_NONBLOCK);
  return fd;
}

// BINARY and MOTOROLA: the file is the sectors.
class RawSource : public SampleSource {
 public:
  RawSource(int fd, std::int64_t size, bool bigEndian) : fd_(fd), swap_(bigEndian) {
    bytes_ = size;
  }
  ~RawSource() override { ::close(fd_); }

  std::size_t read(std::int64_t offset, std::size_t size, std::byte* out) override {
    std::size_t got = 0;
    while (got < size) {
      const ssize_t n = ::pread(fd_, out + got, size - got, static_cast<off_t>(offset) + got);
      if (n < 0 && errno == EINTR) continue;
      if (n <= 0) break;
      got += static_cast<std::size_t>(n);
    }
    if (swap_)
      for (std::size_t i = 0; i + 1 < got; i += 2) std::swap(out[i], out[i + 1]);
    return got;
  }

 private:
  int fd_;
  bool swap_;
};

// WAVE, AIFF, FLAC and the rest of what libsndfile decodes. The decoder is opened when reading
// starts and let go when the sheet moves on to another file: a sheet of 99 FLAC files then
// holds one decoder, not 99.
class DecodedSource : public SampleSource {
 public:
  explicit DecodedSource(std::string path) : path_(std::move(path)) {}
  ~DecodedSource() override { rest(); }

  // Opens the decoder and checks the samples are CD audio.
  bool open(std::string* error) {
    fd_ = OpenRegularFile(path_, error);
    if (fd_ < 0) return false;
    SF_INFO info{};
    file_ = sf_open_fd(fd_, SFM_READ, &info, SF_FALSE);
    if (!file_) {
      if (error)
        *error = std::string("not audio that can be decoded (") + sf_strerror(nullptr) + ")";
      rest();
      return false;
    }
    std::string wrong;
    const int subtype = info.format & SF_FORMAT_SUBMASK;
    if (info.samplerate != 44100) {
      wrong = "it is sampled at " + std::to_string(info.samplerate) + " Hz";
    } else if (info.channels != 2) {
      wrong =
          "it has " + std::to_string(info.channels) + " channel" + (info.channels == 1 ? "" : "s");
    } else if (subtype != SF_FORMAT_PCM_16 && subtype != SF_FORMAT_ALAC_16) {
      SF_FORMAT_INFO name{};
      name.format = subtype;
      sf_command(nullptr, SFC_GET_FORMAT_INFO, &name, sizeof name);
      wrong = std::string("its samples are ") + (name.name ? name.name : "not 16-bit");
    } else if (!info.seekable) {
      wrong = "it cannot be read from an arbitrary point";
    }
    if (!wrong.empty()) {
      if (error) *error = "not CD audio (44.1 kHz, 16-bit, stereo): " + wrong;
      rest();
      return false;
    }
    bytes_ = static_cast<std::int64_t>(info.frames) * 4;
    position_ = 0;
    return true;
  }

  std::size_t read(std::int64_t offset, std::size_t size, std::byte* out) override {
    const sf_count_t frame = offset / 4;
    if (!file_ && !open(nullptr)) return 0;
    if (frame != position_) {
      if (sf_seek(file_, frame, SEEK_SET) != frame) {
        rest();  // a decoder that lost its place starts afresh at the next read
        return 0;
      }
      position_ = frame;
    }
    samples_.resize(size / 2);
    const sf_count_t got =
        sf_readf_short(file_, samples_.data(), static_cast<sf_count_t>(size / 4));
    if (got <= 0) return 0;
    position_ += got;
    const auto count = static_cast<std::size_t>(got) * 2;
    if constexpr (std::endian::native == std::endian::big)
      for (std::size_t i = 0; i < count; ++i) {
        const auto v = static_cast<unsigned short>(samples_[i]);
        samples_[i] = static_cast<short>(static_cast<unsigned short>((v << 8) | (v >> 8)));
      }
    std::memcpy(out, samples_.data(), count * 2);
    return count * 2;
  }

  void rest() override {
    if (file_) sf_close(file_);
    file_ = nullptr;
    if (fd_ >= 0) ::close(fd_);
    fd_ = -1;
    std::vector<short>().swap(samples_);
  }

 private:
  std::string path_;
  int fd_ = -1;
  SNDFILE* file_ = nullptr;
  sf_count_t position_ = 0;  // the decoder's next frame
  std::vector<short> samples_;
};

}  // namespace

std::unique_ptr<SampleSource> SampleSource::Open(const std::string& path, cue::FileType type,
                                                 std::string* error) {
  if (type == cue::FileType::Binary || type == cue::FileType::Motorola) {
    const int fd = OpenRegularFile(path, error);
    if (fd < 0) return nullptr;
    struct stat st {};
    ::fstat(fd, &st);
    return std::make_unique<RawSource>(fd, st.st_size, type == cue::FileType::Motorola);
  }
  auto source = std::make_unique<DecodedSource>(path);
  if (!source->open(error)) return nullptr;
  source->rest();
  return source;
}
