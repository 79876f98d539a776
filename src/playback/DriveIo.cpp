#include "playback/DriveIo.h"

#include <cdio/cdio.h>
#include <cdio/logging.h>
#include <fcntl.h>
#include <linux/cdrom.h>
#include <sys/ioctl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <atomic>
#include <cerrno>
#include <climits>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <mutex>
#include <regex>
#include <set>
#include <sstream>

#include "playback/CdText.h"
#include "playback/ImageProbe.h"

namespace {

// What the log handler has said. Never destroyed: a worker thread left behind in a hung drive
// may log after main() has returned, while static objects are being destroyed.
struct LogMemory {
  std::mutex mutex;
  std::set<std::string> said;
};
LogMemory& logMemory() {
  static LogMemory* memory = new LogMemory;
  return *memory;
}

void logHandler(cdio_log_level_t level, const char* message) {
  if (level < CDIO_LOG_WARN || !message) return;
  std::string text(message);
  while (!text.empty() && (text.back() == '\n' || text.back() == ' ')) text.pop_back();
  LogMemory& memory = logMemory();
  std::lock_guard lock(memory.mutex);
  // A hung drive or a broken image repeats the same complaint at every poll: once is enough.
  if (memory.said.size() > 200 || !memory.said.insert(text).second) return;
  // Not through the logging categories: a thread left behind in a hung drive may get here after
  // main() has returned, when the categories, statics of their own, may already be gone.
  std::fprintf(stderr, "zarncd.device: %s\n", text.c_str());
}

bool endsWithIgnoringCase(const std::string& s, const char* suffix) {
  const std::size_t n = std::strlen(suffix);
  if (s.size() < n) return false;
  for (std::size_t i = 0; i < n; ++i)
    if (std::tolower(static_cast<unsigned char>(s[s.size() - n + i])) != suffix[i]) return false;
  return true;
}

bool isFile(const struct stat& st) {
  return S_ISREG(st.st_mode);
}

// Whether path is a regular file this process may read. Nothing else can hold an image: a
// FIFO would block open() (and the window with it) until some writer came, and a device
// node may do anything on open. So the type is checked before opening, and opening never
// waits.
bool readableFile(const std::string& path, std::string* why) {
  auto fail = [&](const char* reason) {
    if (why) *why = reason;
    return false;
  };
  struct stat st {};
  if (::stat(path.c_str(), &st) != 0) return fail(std::strerror(errno));
  if (!isFile(st)) return fail("not a regular file");
  const int fd = ::open(path.c_str(), O_RDONLY | O_NONBLOCK | O_CLOEXEC);
  if (fd < 0) return fail(std::strerror(errno));
  // Replaced between the two looks: the descriptor tells what was opened.
  const bool file = ::fstat(fd, &st) == 0 && isFile(st);
  ::close(fd);
  return file || fail("not a regular file");
}

// libcdio looks for the files a cdrdao TOC names in the current folder, not the TOC's, and opens
// them only on its first read, on the reader thread, where a FIFO would hang it. So it is given
// a copy of the TOC that names them by absolute paths, each checked to be a regular file first.
// Returns the copy's path (the caller removes it once the image is open), or "" and why.
std::string AbsoluteTocCopy(const std::string& toc, std::string* why) {
  std::ifstream in(toc);
  std::ostringstream copy;
  const std::filesystem::path folder = std::filesystem::path(toc).parent_path();
  static const std::regex named(R"re(\b((?:AUDIO|DATA)?FILE\s+)"([^"]*)")re");
  for (std::string line; std::getline(in, line);) {
    const std::size_t comment = line.find("//");
    std::string text = line.substr(0, comment), out;
    std::size_t done = 0;
    for (std::sregex_iterator it(text.begin(), text.end(), named), end; it != end; ++it) {
      const std::string path = (folder / (*it)[2].str()).lexically_normal().string();
      if (!readableFile(path, why)) {
        *why = "its data file " + path + ": " + *why;
        return {};
      }
      out += text.substr(done, static_cast<std::size_t>(it->position()) - done);
      out += (*it)[1].str() + '"' + path + '"';
      done = static_cast<std::size_t>(it->position() + it->length());
    }
    copy << out << text.substr(done) << (comment == std::string::npos ? "" : line.substr(comment))
         << '\n';
  }
  std::error_code error;
  std::filesystem::path folderForCopy = std::filesystem::temp_directory_path(error);
  if (error) folderForCopy = "/tmp";
  std::string path = (folderForCopy / "zarncd-XXXXXX.toc").string();
  const int fd = ::mkstemps(path.data(), 4);
  const std::string text = copy.str();
  const bool written =
      fd >= 0 && ::write(fd, text.data(), text.size()) == static_cast<ssize_t>(text.size());
  if (fd >= 0) ::close(fd);
  if (written) return path;
  *why = std::string("a copy of the TOC cannot be written: ") + std::strerror(errno);
  if (fd >= 0) ::unlink(path.c_str());
  return {};
}

// An image behind a virtual tray. Eject opens the tray; inserting an image closes it.
class ImageIo : public DriveIo {
 public:
  explicit ImageIo(std::string path) : path_(std::move(path)) {}
  ~ImageIo() override {
    if (readHandle_) cdio_destroy(readHandle_);
  }

  Status status() override {
    std::string path;
    {
      std::lock_guard lock(mutex_);
      if (trayOpen_) return Status::TrayOpen;
      path = path_;
    }
    // An image deleted under us (or replaced by something that is not a file) is a disc taken
    // out: the tray shows open, and the image coming back is a disc put in again.
    struct stat st {};
    if (::stat(path.c_str(), &st) != 0 || !isFile(st)) {
      std::lock_guard lock(mutex_);
      if (!gone_) {
        gone_ = true;
        ++generation_;  // what comes back is read afresh, not through the old handle
      }
      return Status::TrayOpen;
    }
    std::lock_guard lock(mutex_);
    gone_ = false;
    return Status::DiscOk;
  }

  std::optional<DiscToc> readToc() override {
    std::string path;
    {
      std::lock_guard lock(mutex_);
      path = path_;
    }
    CdIo_t* cdio = OpenCdioImage(path, nullptr);
    if (!cdio) return std::nullopt;
    auto toc = ReadCdioToc(cdio);
    cdio_destroy(cdio);
    return toc;
  }

  bool readAudio(std::int32_t lsn, int count, std::byte* out) override {
    std::string path;
    std::uint64_t generation;
    {
      std::lock_guard lock(mutex_);
      path = path_;
      generation = generation_;
    }
    if (readHandle_ && readGeneration_ != generation) {
      cdio_destroy(readHandle_);
      readHandle_ = nullptr;
    }
    if (!readHandle_) {
      readHandle_ = OpenCdioImage(path, nullptr);
      readGeneration_ = generation;
      if (!readHandle_) return false;
    }
    // libcdio answers a read past the end with 1, which is not one of its documented codes.
    return cdio_read_audio_sectors(readHandle_, out, lsn, static_cast<std::uint32_t>(count)) ==
           DRIVER_OP_SUCCESS;
  }

  int maxSectorsPerRead() const override { return 75; }

  bool eject() override {
    std::lock_guard lock(mutex_);
    trayOpen_ = true;
    return true;
  }
  bool closeTray() override {
    std::lock_guard lock(mutex_);
    trayOpen_ = false;
    return true;
  }
  bool canEject() const override { return true; }
  bool hasVirtualTray() const override { return true; }
  bool moveVirtualTray(bool open) override { return open ? eject() : closeTray(); }

  bool insertImage(const std::string& path, std::string* /*error*/) override {
    std::lock_guard lock(mutex_);
    path_ = path;
    ++generation_;
    trayOpen_ = false;
    gone_ = false;
    return true;
  }

 private:
  std::mutex mutex_;
  std::string path_;
  std::uint64_t generation_ = 0;  // counts the discs: a new one needs a new read handle
  bool trayOpen_ = false;
  bool gone_ = false;  // the image file was missing at the last look
  // Used by the reader thread only.
  CdIo_t* readHandle_ = nullptr;
  std::uint64_t readGeneration_ = 0;
};

// A drive node. The monitor thread asks for its state through its own non-blocking
// descriptor; the reader thread reads through a libcdio handle of its own.
class LinuxDriveIo : public DriveIo {
 public:
  explicit LinuxDriveIo(std::string path) : path_(std::move(path)) {
    // The capability mask is the kernel's: asking for it does not wake the drive.
    const int fd = ::open(path_.c_str(), O_RDONLY | O_NONBLOCK | O_CLOEXEC);
    if (fd >= 0) {
      const int caps = ::ioctl(fd, CDROM_GET_CAPABILITY, 0);
      canEject_ = caps >= 0 && (caps & CDC_OPEN_TRAY);
      ::close(fd);
    }
  }
  ~LinuxDriveIo() override {
    if (statusFd_ >= 0) ::close(statusFd_);
    if (readHandle_) cdio_destroy(readHandle_);
  }

  Status status() override {
    if (statusFd_ < 0) statusFd_ = ::open(path_.c_str(), O_RDONLY | O_NONBLOCK | O_CLOEXEC);
    if (statusFd_ < 0) return Status::NotReady;  // unplugged, or not there yet
    const int state = ::ioctl(statusFd_, CDROM_DRIVE_STATUS, CDSL_CURRENT);
    switch (state) {
      case CDS_TRAY_OPEN:
        return Status::TrayOpen;
      case CDS_NO_DISC:
        return Status::NoDisc;
      case CDS_DRIVE_NOT_READY:
        return Status::NotReady;
      case CDS_DISC_OK:
      case CDS_NO_INFO:  // the drive cannot tell: reading the TOC will
        return Status::DiscOk;
      default:
        // The node went away (a USB drive unplugged): reopen it at the next poll.
        ::close(statusFd_);
        statusFd_ = -1;
        return Status::NotReady;
    }
  }

  std::optional<DiscToc> readToc() override {
    // A new disc: the reader's handle keeps the old one's table and refuses sectors past its end.
    releaseReadHandle();
    CdIo_t* cdio = cdio_open(path_.c_str(), DRIVER_LINUX);
    if (!cdio) return std::nullopt;
    auto toc = ReadCdioToc(cdio);
    cdio_destroy(cdio);
    return toc;
  }

  bool readAudio(std::int32_t lsn, int count, std::byte* out) override {
    std::lock_guard lock(readMutex_);
    if (!readHandle_) {
      readHandle_ = cdio_open(path_.c_str(), DRIVER_LINUX);
      if (!readHandle_) return false;
      // Drives forget the speed with the disc; a drive that refuses keeps its own.
      if (speed_ >= 0) cdio_set_speed(readHandle_, speed_);
    }
    const bool ok = cdio_read_audio_sectors(readHandle_, out, lsn,
                                            static_cast<std::uint32_t>(count)) == DRIVER_OP_SUCCESS;
    if (!ok && ::access(path_.c_str(), F_OK) != 0) {
      cdio_destroy(readHandle_);  // the node is gone; a replugged drive needs a new handle
      readHandle_ = nullptr;
    }
    return ok;
  }

  int maxSectorsPerRead() const override { return 25; }

  void setSpeed(int times) override {
    std::lock_guard lock(readMutex_);
    speed_ = times;
    if (readHandle_) cdio_set_speed(readHandle_, times);
  }

  bool eject() override {
    // The CD-ROM layer refuses to eject while another descriptor holds the drive (every drive
    // before Linux 5.18, and drives outside the SCSI layer since).
    releaseReadHandle();
    return statusFd_ >= 0 && ::ioctl(statusFd_, CDROMEJECT, 0) == 0;
  }
  bool closeTray() override { return statusFd_ >= 0 && ::ioctl(statusFd_, CDROMCLOSETRAY, 0) == 0; }
  bool canEject() const override { return canEject_; }

 private:
  // Monitor thread; waits for a read in progress.
  void releaseReadHandle() {
    std::lock_guard lock(readMutex_);
    if (readHandle_) cdio_destroy(readHandle_);
    readHandle_ = nullptr;
  }

  std::string path_;
  bool canEject_ = false;
  int statusFd_ = -1;  // monitor thread
  // The reader thread's, released by the monitor thread.
  std::mutex readMutex_;
  CdIo_t* readHandle_ = nullptr;
  int speed_ = -1;  // as asked by the reader, for every handle it reads through; -1: never asked
};

}  // namespace

void InstallCdioLogHandler() {
  static std::once_flag once;
  std::call_once(once, [] { cdio_log_set_handler(logHandler); });
}

std::optional<DiscToc> ReadCdioToc(CdIo_t* cdio) {
  const track_t first = cdio_get_first_track_num(cdio);
  const track_t count = cdio_get_num_tracks(cdio);
  if (first == CDIO_INVALID_TRACK || count == CDIO_INVALID_TRACK || count == 0) return std::nullopt;
  DiscToc toc;
  for (int t = first; t < first + count; ++t) {
    const lsn_t lsn = cdio_get_track_lsn(cdio, static_cast<track_t>(t));
    if (lsn == CDIO_INVALID_LSN) return std::nullopt;
    toc.tracks.push_back(
        {lsn, cdio_get_track_format(cdio, static_cast<track_t>(t)) == TRACK_FORMAT_AUDIO});
  }
  toc.leadout = cdio_get_track_lsn(cdio, CDIO_CDROM_LEADOUT_TRACK);
  if (toc.leadout == CDIO_INVALID_LSN) return std::nullopt;
  toc.text = ReadCdioText(cdio);
  return toc;
}

CdIo_t* OpenCdioImage(const std::string& path, std::string* error) {
  auto fail = [&](std::string why) -> CdIo_t* {
    if (error) *error = std::move(why);
    return nullptr;
  };
  std::string why;
  if (!readableFile(path, &why)) return fail(why);

  // The BIN/CUE driver finds the BIN by the CUE's own name: follow a symlinked CUE to the
  // real one, beside which its BIN lies.
  char resolved[PATH_MAX];
  std::string source = ::realpath(path.c_str(), resolved) ? std::string(resolved) : path;
  driver_id_t driver = DRIVER_UNKNOWN;
  if (char* bin = cdio_is_cuefile(source.c_str())) {
    // The BIN/CUE driver reads the .bin named after the .cue, whatever the FILE line says.
    const std::string binName(bin);
    cdio_free(bin);
    if (!readableFile(binName, &why)) return fail("its data file " + binName + ": " + why);
    driver = DRIVER_BINCUE;
  } else if (endsWithIgnoringCase(source, ".bin")) {
    char* cue = cdio_is_binfile(source.c_str());
    if (!cue) return fail("not a CD image (a CUE sheet is needed beside the BIN file)");
    source = cue;
    cdio_free(cue);
    if (!readableFile(source, &why)) return fail("its CUE sheet " + source + ": " + why);
    driver = DRIVER_BINCUE;
  } else if (const NrgVerdict nrg = CheckNrgFile(source, &why); nrg != NrgVerdict::NotNrg) {
    // Told by its footer, whatever its name; libcdio's own look at it trusts what it reads.
    if (nrg == NrgVerdict::Unusable)
      return fail("not a CD image (a damaged NRG image: " + why + ")");
    if (!cdio_is_nrg(source.c_str())) return fail("not a CD image (the NRG image cannot be read)");
    driver = DRIVER_NRG;
  } else if (endsWithIgnoringCase(source, ".toc")) {
    const std::string copy = AbsoluteTocCopy(source, &why);
    if (copy.empty()) return fail(why);
    CdIo_t* cdio = cdio_is_tocfile(copy.c_str()) ? cdio_open(copy.c_str(), DRIVER_CDRDAO) : nullptr;
    ::unlink(copy.c_str());  // read whole at opening
    return cdio ? cdio : fail("not a CD image (the cdrdao TOC cannot be read)");
  } else {
    return fail("not a CD image (CUE/BIN, cdrdao TOC or NRG)");
  }
  CdIo_t* cdio = cdio_open(source.c_str(), driver);
  if (!cdio) return fail("the CD image cannot be read");
  return cdio;
}

std::unique_ptr<DriveIo> MakeImageIo(const std::string& path) {
  return std::make_unique<ImageIo>(path);
}

std::unique_ptr<DriveIo> MakeLinuxDriveIo(const std::string& path) {
  return std::make_unique<LinuxDriveIo>(path);
}
