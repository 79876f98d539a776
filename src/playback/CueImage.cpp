#include "playback/CueImage.h"

#include <cdio/cdio.h>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cctype>
#include <cerrno>
#include <climits>
#include <cstdio>
#include <cstring>
#include <filesystem>
#include <mutex>

#include "playback/SampleSource.h"

namespace {

// Real sheets are a few kilobytes; anything near this is not one.
constexpr std::size_t kMaxSheetBytes = 1 << 20;

bool EndsWithIgnoringCase(const std::string& s, std::string_view suffix) {
  return s.size() >= suffix.size() &&
         std::equal(suffix.begin(), suffix.end(), s.end() - static_cast<long>(suffix.size()),
                    [](char a, char b) {
                      return std::tolower(static_cast<unsigned char>(a)) ==
                             std::tolower(static_cast<unsigned char>(b));
                    });
}

bool SameIgnoringCase(const std::string& a, const std::string& b) {
  return a.size() == b.size() && EndsWithIgnoringCase(a, b);
}

bool ReadSheet(const std::string& path, std::string* text, std::string* error) {
  const int fd = ::open(path.c_str(), O_RDONLY | O_NONBLOCK | O_CLOEXEC);
  if (fd < 0) return *error = std::strerror(errno), false;
  struct stat st {};
  bool ok = ::fstat(fd, &st) == 0 && S_ISREG(st.st_mode);
  if (!ok) {
    *error = "not a regular file";
  } else if (static_cast<std::size_t>(st.st_size) > kMaxSheetBytes) {
    *error = "too large for a CUE sheet (" + std::to_string(st.st_size) + " bytes)";
    ok = false;
  } else {
    text->resize(static_cast<std::size_t>(st.st_size));
    const ssize_t n = ::pread(fd, text->data(), text->size(), 0);
    if (n < 0) *error = std::strerror(errno), ok = false;
    text->resize(n < 0 ? 0 : static_cast<std::size_t>(n));
  }
  ::close(fd);
  return ok;
}

// Follows name from folder, each step matching without regard to case where the exact name
// is missing. Empty when some step has no match.
std::string FindIgnoringCase(const std::filesystem::path& folder,
                             const std::filesystem::path& name) {
  namespace fs = std::filesystem;
  fs::path at = folder;
  for (const fs::path& step : name) {
    std::error_code ec;
    if (fs::exists(at / step, ec)) {
      at /= step;
      continue;
    }
    bool found = false;
    for (fs::directory_iterator it(at, ec), end; !ec && it != end; it.increment(ec)) {
      if (SameIgnoringCase(it->path().filename().string(), step.string())) {
        at = it->path();
        found = true;
        break;
      }
    }
    if (!found) return {};
  }
  return at.string();
}

// Where a FILE line's file is: as written, from the sheet's folder; then without regard to
// case, with Windows separators; then by its bare name in the sheet's folder (a sheet that
// kept the path of the machine it was made on). The path as written when nothing matches.
std::string FindDataFile(const std::string& folder, std::string name) {
  const std::string asWritten = name.front() == '/' ? name : folder + "/" + name;
  std::replace(name.begin(), name.end(), '\\', '/');
  const std::filesystem::path written(name);
  for (const std::string& found :
       {FindIgnoringCase(written.is_absolute() ? "/" : folder, written.relative_path()),
        FindIgnoringCase(folder, written.filename())})
    if (!found.empty()) return found;
  return asWritten;
}

std::string FileTime(std::int64_t bytes) {
  const std::int64_t sectors = bytes / kBytesPerSector;
  char text[32];
  std::snprintf(text, sizeof text, "%lld:%02lld.%02lld", static_cast<long long>(sectors / 4500),
                static_cast<long long>(sectors / 75 % 60), static_cast<long long>(sectors % 75));
  return text;
}

// The sheet's TITLE and PERFORMER lines, the names a burner writes as the disc's CD-Text.
std::optional<DiscText> SheetText(const cue::Disc& disc) {
  DiscText text;
  text.encoding = DiscText::Encoding::Guess;
  text.album = {disc.text.title, disc.text.performer};
  bool any = text.album != DiscText::Names{};
  for (const cue::CdText& track : disc.trackText) {
    text.tracks.push_back({track.title, track.performer});
    any = any || text.tracks.back() != DiscText::Names{};
  }
  if (!any) return std::nullopt;
  return text;
}

}  // namespace

CueImage::~CueImage() = default;

std::unique_ptr<CueImage> CueImage::Open(const std::string& sheetPath, std::string* error) {
  std::string why;
  auto fail = [&](std::string text) -> std::unique_ptr<CueImage> {
    if (error) *error = std::move(text);
    return nullptr;
  };
  std::string text;
  if (!ReadSheet(sheetPath, &text, &why)) return fail(why);
  const auto sheet = cue::Parse(text, &why);
  if (!sheet) return fail(why);

  // Names are relative to the real sheet, beside which its files lie, not to a link to it.
  char real[PATH_MAX];
  const std::filesystem::path folder =
      std::filesystem::path(::realpath(sheetPath.c_str(), real) ? real : sheetPath).parent_path();

  std::unique_ptr<CueImage> image(new CueImage);
  std::vector<std::int64_t> sectors;
  for (const cue::File& file : sheet->files) {
    std::string path = FindDataFile(folder.empty() ? "." : folder.string(), file.name);
    // A one-file sheet whose FILE line names nothing here played, before sheets were read, from
    // the BIN named after the sheet; such images keep playing.
    if (sheet->files.size() == 1 && ::access(path.c_str(), F_OK) != 0) {
      const std::string bin =
          FindIgnoringCase(folder, std::filesystem::path(sheetPath).stem().string() + ".bin");
      if (!bin.empty()) path = bin;
    }
    auto source = SampleSource::Open(path, file.type, &why);
    if (!source) return fail("its data file " + path + ": " + why);
    // A BIN is whole sectors; a burner pads the last sector of an audio file with silence.
    const bool raw = file.type == cue::FileType::Binary || file.type == cue::FileType::Motorola;
    sectors.push_back((source->bytes() + (raw ? 0 : kBytesPerSector - 1)) / kBytesPerSector);
    image->paths_.push_back(path);
    image->sources_.push_back(std::move(source));
  }
  auto disc = cue::LayOut(*sheet, sectors, &why);
  if (!disc) return fail(why);
  image->disc_ = std::move(*disc);
  image->endedEarly_.assign(image->sources_.size(), false);
  return image;
}

bool CueImage::read(std::int32_t lsn, int count, std::byte* out) {
  const std::int64_t end = std::int64_t{lsn} + count;
  if (lsn < 0 || count < 0 || end > disc_.toc.leadout) return false;
  const auto& pieces = disc_.pieces;
  auto piece = std::upper_bound(pieces.begin(), pieces.end(), lsn,
                                [](std::int32_t s, const cue::Piece& p) { return s < p.first; });
  if (piece != pieces.begin()) --piece;
  for (; piece != pieces.end() && piece->first < end; ++piece) {
    const std::int64_t from = std::max<std::int64_t>(lsn, piece->first);
    const std::int64_t to = std::min<std::int64_t>(end, piece->first + piece->sectors);
    if (from >= to) continue;
    std::byte* at = out + (from - lsn) * kBytesPerSector;
    const auto size = static_cast<std::size_t>(to - from) * kBytesPerSector;
    if (piece->file < 0) {
      std::memset(at, 0, size);
      continue;
    }
    const auto file = static_cast<std::size_t>(piece->file);
    if (active_ != piece->file) {
      if (active_ >= 0) sources_[static_cast<std::size_t>(active_)]->rest();
      active_ = piece->file;
    }
    SampleSource& source = *sources_[file];
    const std::int64_t offset = (piece->fileSector + from - piece->first) * kBytesPerSector;
    // Past the stated length lies the padding of the last sector: silence, and no surprise.
    const auto stated =
        static_cast<std::size_t>(std::clamp<std::int64_t>(source.bytes() - offset, 0, size));
    const std::size_t got = stated > 0 ? source.read(offset, stated, at) : 0;
    std::memset(at + got, 0, size - got);
    if (got < stated && !endedEarly_[file]) {
      endedEarly_[file] = true;
      // Not through the logging categories: this runs on the reader's thread, which a read
      // that hangs may leave behind past the end of main(), when the categories, statics of
      // their own, may already be gone (the libcdio log handler says so the same way).
      std::fprintf(stderr,
                   "zarncd.playback: %s ends early, at %s of %s; silence in place of the rest\n",
                   paths_[file].c_str(), FileTime(offset + static_cast<std::int64_t>(got)).c_str(),
                   FileTime(source.bytes()).c_str());
    }
  }
  return true;
}

std::string CueSheetOf(const std::string& path) {
  if (EndsWithIgnoringCase(path, ".cue")) return path;
  if (!EndsWithIgnoringCase(path, ".bin")) return {};
  char* sheet = cdio_is_binfile(path.c_str());
  if (!sheet) return {};
  std::string found(sheet);
  cdio_free(sheet);
  return found;
}

std::optional<DiscToc> ReadImageToc(const std::string& path, std::string* error) {
  std::string why = "the CD image has no usable table of contents";
  std::optional<DiscToc> toc;
  if (const std::string sheet = CueSheetOf(path); !sheet.empty()) {
    if (auto image = CueImage::Open(sheet, &why)) {
      toc = image->disc().toc;
      toc->text = SheetText(image->disc());
    }
  } else if (CdIo_t* cdio = OpenCdioImage(path, &why)) {
    toc = ReadCdioToc(cdio);
    cdio_destroy(cdio);
  }
  if (toc && toc->IsValid()) return toc;
  if (error) *error = why;
  return std::nullopt;
}

namespace {

// The image's virtual tray and libcdio's reading are MakeImageIo's; only CUE sheets are read
// here.
class DiscImageIo : public DriveIo {
 public:
  explicit DiscImageIo(const std::string& path) : tray_(MakeImageIo(path)), path_(path) {}

  Status status() override {
    const Status status = tray_->status();
    // Whatever comes back after the tray was open, or the image was gone, is read afresh: the
    // files may have been replaced under the same names.
    std::lock_guard lock(mutex_);
    if (status != Status::DiscOk && !away_) ++generation_;
    away_ = status != Status::DiscOk;
    return status;
  }
  std::optional<DiscToc> readToc() override { return ReadImageToc(current().first, nullptr); }

  bool readAudio(std::int32_t lsn, int count, std::byte* out) override {
    const auto [path, generation] = current();
    if (generation != readGeneration_ || !opened_) {
      readGeneration_ = generation;
      opened_ = true;
      const std::string sheet = CueSheetOf(path);
      reading_ = sheet.empty() ? nullptr : CueImage::Open(sheet, nullptr);
      cue_ = !sheet.empty();
    }
    if (!cue_) return tray_->readAudio(lsn, count, out);
    return reading_ && reading_->read(lsn, count, out);
  }

  int maxSectorsPerRead() const override { return tray_->maxSectorsPerRead(); }
  bool eject() override { return tray_->eject(); }
  bool closeTray() override { return tray_->closeTray(); }
  bool canEject() const override { return tray_->canEject(); }
  bool hasVirtualTray() const override { return tray_->hasVirtualTray(); }
  bool moveVirtualTray(bool open) override { return tray_->moveVirtualTray(open); }

  bool insertImage(const std::string& path, std::string* error) override {
    {
      std::lock_guard lock(mutex_);
      path_ = path;
      ++generation_;
    }
    return tray_->insertImage(path, error);
  }

 private:
  std::pair<std::string, std::uint64_t> current() {
    std::lock_guard lock(mutex_);
    return {path_, generation_};
  }

  const std::unique_ptr<DriveIo> tray_;
  std::mutex mutex_;
  std::string path_;
  std::uint64_t generation_ = 0;
  bool away_ = false;  // the disc was out at the last look
  // The reader thread's.
  std::uint64_t readGeneration_ = 0;
  bool opened_ = false;
  bool cue_ = false;
  std::unique_ptr<CueImage> reading_;
};

}  // namespace

std::unique_ptr<DriveIo> MakeDiscImageIo(const std::string& path) {
  return std::make_unique<DiscImageIo>(path);
}
