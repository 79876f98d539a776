#include "playback/CdioDriver.h"

#include <cdio/cdio.h>
#include <fcntl.h>
#include <linux/cdrom.h>
#include <pthread.h>
#include <sys/file.h>
#include <sys/ioctl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <chrono>
#include <climits>
#include <condition_variable>
#include <cstdlib>
#include <cstring>
#include <mutex>
#include <optional>
#include <thread>
#include <utility>

#include "log/Log.h"
#include "playback/AudioOutput.h"
#include "playback/AudioReader.h"
#include "playback/DriveIo.h"
#include "playback/DriveWatch.h"
#include "playback/CueImage.h"  // CUE sheets are read by the program, other images by libcdio

using namespace mci;

namespace {

constexpr std::size_t kRingBytes = 3 * 75 * kBytesPerSector;  // about three seconds
// How long closing waits for a worker thread stuck in the drive before leaving it behind.
constexpr auto kJoinPatience = std::chrono::seconds(5);
// How long a table of contents that makes no sense is read again at each poll.
constexpr auto kNonsensePatience = std::chrono::seconds(10);

std::string realPath(const std::string& path) {
  char buffer[PATH_MAX];
  return ::realpath(path.c_str(), buffer) ? std::string(buffer) : path;
}

// The in-use lock: one lock file per device, named after the device's real path, so that
// /dev/cdrom and /dev/sr0 meet on the same file.
std::string lockFileFor(const std::string& device) {
  std::string dir;
  struct stat st {};
  if (const char* runtime = std::getenv("XDG_RUNTIME_DIR");
      runtime && *runtime && ::stat(runtime, &st) == 0 && S_ISDIR(st.st_mode))
    dir = runtime;
  else if (::access("/run/lock", W_OK) == 0)
    dir = "/run/lock";
  else
    dir = "/tmp";
  std::string name = "zarncd-";
  for (unsigned char c : realPath(device)) {
    if (std::isalnum(c) || c == '.' || c == '_' || c == '-') {
      name += static_cast<char>(c);
    } else if (c == '/') {
      name += '!';
    } else {
      char hex[4];
      std::snprintf(hex, sizeof hex, "%%%02X", c);
      name += hex;
    }
  }
  if (name.size() > 200) name = "zarncd-" + std::to_string(std::hash<std::string>{}(name));
  return dir + "/" + name + ".lock";
}

enum class LockResult { Locked, Busy, Unavailable };

LockResult lockDevice(const std::string& device, int* fd) {
  *fd = ::open(lockFileFor(device).c_str(), O_RDWR | O_CREAT | O_CLOEXEC, 0600);
  // Without a place for lock files the player still runs; it just cannot see other copies.
  if (*fd < 0) return LockResult::Unavailable;
  if (::flock(*fd, LOCK_EX | LOCK_NB) == 0) return LockResult::Locked;
  const int error = errno;
  ::close(*fd);
  *fd = -1;
  return error == EWOULDBLOCK ? LockResult::Busy : LockResult::Unavailable;
}

// A drive taken by the player that waits for one: its in-use lock, held by the token.
std::shared_ptr<void> claimDrive(const std::string& node) {
  int fd = -1;
  if (lockDevice(node, &fd) == LockResult::Busy) return nullptr;
  return std::shared_ptr<int>(new int(fd), [](int* lock) {
    if (*lock >= 0) ::close(*lock);
    delete lock;
  });
}

}  // namespace

// Everything the GUI thread and the monitor thread share. The monitor thread holds it too, so
// that a thread left behind in a hung drive never touches freed memory.
//
// Threads: the commands run on the GUI thread; the monitor thread polls the drive and publishes
// what it sees. Lock order: control, then mutex, then the output's own locks (AudioOutput.h),
// which are never held while waiting for the sound server, so neither lock here waits for it
// either: a hung server holds up no command and no look at the drive. The output and the
// reader are used under control (the position reads the output under mutex too); closing takes
// them away under both and destroys them on the closing thread, so a monitor left behind in a
// hung drive finds them gone and never runs their destructors, whenever it comes back.
struct Player {
  std::shared_ptr<DriveIo> io;
  int pollMs = 500;
  std::unique_ptr<AudioOutput> output;  // null once closed
  std::unique_ptr<AudioReader> reader;  // null once closed

  // Serialises the commands that start and stop playback (GUI thread, monitor thread).
  std::mutex control;

  // The snapshot: short critical sections only, never held across drive access.
  mutable std::mutex mutex;
  DriveIo::Status status = DriveIo::Status::NotReady;
  std::shared_ptr<const DiscToc> toc;  // a valid table of contents, or null
  mutable bool playing = false;
  std::vector<PlaySpan> spans;       // what the current playback covers
  mutable std::int32_t resting = 0;  // the position while not playing
  std::uint64_t discGeneration = 0;  // counts the discs seen
  std::uint64_t playGeneration = 0;  // the disc the playback started on

  // The monitor thread's orders.
  std::condition_variable wake;
  enum class Order { None, Eject, Close } order = Order::None;
  bool rescan = false;
  bool quit = false;
  bool done = false;
  std::condition_variable finished;

  // Under mutex. Playing position in frames; ends the playback that has run out. (Only a player
  // with an output plays: closing stops it before taking the output away.)
  std::int64_t positionFramesLocked() const {
    if (playing && output->finished()) {
      playing = false;
      resting = toc ? toc->leadout : spans.back().end;
    }
    if (!playing) return std::int64_t{resting} * kFramesPerSector;
    const std::int64_t played = output->framesPlayed();
    return std::int64_t{SectorAfter(spans, played / kFramesPerSector)} * kFramesPerSector +
           played % kFramesPerSector;
  }

  // Under control.
  void stopLocked() {
    reader->cancel();
    output->stop();
    std::lock_guard lock(mutex);
    resting = static_cast<std::int32_t>(positionFramesLocked() / kFramesPerSector);
    playing = false;
  }

  void publish(DriveIo::Status now, bool tocRead, std::optional<DiscToc> read) {
    bool discChanged = false;
    {
      std::lock_guard lock(mutex);
      if (quit) return;  // closed while the monitor was in the drive
      std::shared_ptr<const DiscToc> next = toc;
      if (now != DriveIo::Status::DiscOk) {
        next.reset();
      } else if (tocRead) {
        // The same disc again (a tray opened and closed on it) keeps its table.
        if (!read || !read->IsValid())
          next.reset();
        else if (!toc || !(*toc == *read))
          next = std::make_shared<const DiscToc>(std::move(*read));
      }
      status = now;
      discChanged = next != toc;
      if (discChanged) {
        toc = std::move(next);
        ++discGeneration;
        if (!playing) resting = toc ? toc->tracks.front().lsn : 0;
      }
    }
    if (discChanged) stopIfStale();
  }

  // The disc under the playback went away or changed: what was playing must stop, and the
  // position goes to the new disc's start.
  void stopIfStale() {
    std::lock_guard guard(control);
    {
      std::lock_guard lock(mutex);
      if (!output || !playing || playGeneration == discGeneration) return;
    }
    reader->cancel();
    output->stop();
    std::lock_guard lock(mutex);
    playing = false;
    resting = toc ? toc->tracks.front().lsn : 0;
  }

  void monitor();
};

void Player::monitor() {
  bool tocRead = false;  // the disc in the drive has been read (or found unreadable)
  std::optional<std::chrono::steady_clock::time_point> firstNonsense;  // from this disc
  for (;;) {
    Order todo;
    bool reread;
    {
      std::unique_lock lock(mutex);
      if (quit) break;
      todo = std::exchange(order, Order::None);
      reread = std::exchange(rescan, false);
    }
    if (todo == Order::Eject) io->eject();
    if (todo == Order::Close) io->closeTray();

    const DriveIo::Status now = io->status();
    std::optional<DiscToc> read;
    bool readNow = false;
    if (now != DriveIo::Status::DiscOk) {
      tocRead = false;
      firstNonsense.reset();
    } else if (!tocRead || reread) {
      read = io->readToc();
      readNow = true;
      // A drive still spinning up cannot answer yet, or answers nonsense: ask again at the next
      // polls, for a while.
      const auto at = std::chrono::steady_clock::now();
      if (read && read->IsValid())
        firstNonsense.reset();
      else if (read && !firstNonsense)
        firstNonsense = at;
      tocRead = read && (!firstNonsense || at - *firstNonsense >= kNonsensePatience);
    }
    publish(now, readNow, std::move(read));

    std::unique_lock lock(mutex);
    wake.wait_for(lock, std::chrono::milliseconds(pollMs),
                  [&] { return quit || order != Order::None || rescan; });
  }
  std::lock_guard lock(mutex);
  done = true;
  finished.notify_all();
}

struct CdioDriver::Impl {
  std::string device;
  std::unique_ptr<DriveIo> injected;
  Options options;

  std::string path;  // the device actually opened
  int lockFd = -1;
  std::thread monitor;  // joined on close, or left behind when stuck in the drive
  std::uint32_t errorCode = 0;
  std::string errorText;
  // Set and taken away on the GUI thread under playerMutex; the queries that may come from
  // other threads take their own reference under it, and so keep the player while they read.
  std::shared_ptr<Player> player;
  mutable std::mutex playerMutex;

  std::shared_ptr<Player> current() const {
    std::lock_guard lock(playerMutex);
    return player;
  }

  std::uint32_t fail(std::uint32_t code, std::string text) {
    errorCode = code;
    errorText = std::move(text);
    return code;
  }
};

CdioDriver::CdioDriver(std::string device) : CdioDriver(std::move(device), nullptr, Options{}) {}

CdioDriver::CdioDriver(std::string device, std::unique_ptr<DriveIo> io, Options options)
    : impl_(std::make_unique<Impl>()) {
  impl_->device = std::move(device);
  impl_->injected = std::move(io);
  impl_->options = options;
}

CdioDriver::~CdioDriver() {
  if (impl_->player) closeTransport();
}

std::uint32_t CdioDriver::openTransport() {
  InstallCdioLogHandler();
  Impl& d = *impl_;
  d.errorCode = 0;
  d.errorText.clear();

  std::unique_ptr<DriveIo> io = std::move(d.injected);
  bool image = false;
  bool waiting = false;  // for a drive to appear
  std::optional<DiscToc> firstToc;
  d.path = d.device;
  if (!io && d.path.empty()) {
    d.path = DefaultCdDrive();
    if (d.path.empty()) {
      // Most computers have no drive now: the player waits for one, and takes images meanwhile.
      qCWarning(lcDevice,
                "No CD drive found. Drop a CD image on the window, or open one with "
                "Ctrl+O; a CD drive plugged in is used when it appears.");
      io = std::make_unique<DriveWatch>(DriveFolder(), claimDrive);
      waiting = true;
    }
  }
  if (!io) {
    struct stat st {};
    if (::stat(d.path.c_str(), &st) != 0)
      return d.fail(MCIERR_FILE_NOT_FOUND, d.path + ": " + std::strerror(errno));
    if (S_ISBLK(st.st_mode) || S_ISCHR(st.st_mode)) {
      if (!IsCdDrive(d.path))
        return d.fail(
            MCIERR_CANNOT_LOAD_DRIVER,
            d.path + ": " +
                (::access(d.path.c_str(), R_OK) != 0 ? std::strerror(errno) : "not a CD drive"));
    } else if (S_ISREG(st.st_mode)) {
      std::string why;
      firstToc = ReadImageToc(d.path, &why);
      if (!firstToc) return d.fail(MCIERR_CANNOT_LOAD_DRIVER, d.path + ": " + why);
      image = true;
    } else {
      return d.fail(MCIERR_CANNOT_LOAD_DRIVER, d.path + ": neither a CD drive nor a CD image");
    }
  }

  int fd = -1;
  // The player that waits for a drive locks each one it takes, and nothing before.
  if (!waiting && lockDevice(d.path, &fd) == LockResult::Busy)
    return d.fail(MCIERR_DEVICE_LOCKED, d.path + ": the " +
                                            std::string(image ? "CD image" : "drive") +
                                            " is in use by another program");
  d.lockFd = fd;

  if (!io) io = image ? MakeDiscImageIo(d.path) : MakeLinuxDriveIo(d.path);
  auto player = std::make_shared<Player>();
  player->io = std::move(io);
  player->pollMs = d.options.pollIntervalMs;
  player->output = std::make_unique<AudioOutput>(d.options.useSoundServer);
  player->reader = std::make_unique<AudioReader>(player->io);
  if (firstToc) {
    // An image answers at once: the first status query already sees its disc.
    player->publish(DriveIo::Status::DiscOk, true, std::move(firstToc));
  } else if (waiting) {
    player->publish(DriveIo::Status::TrayOpen, false, std::nullopt);  // the empty image drive
  }
  d.monitor = std::thread([player] {
    ::pthread_setname_np(::pthread_self(), "cd monitor");
    player->monitor();
  });
  std::lock_guard lock(d.playerMutex);
  d.player = std::move(player);
  return 0;
}

void CdioDriver::closeTransport() {
  Impl& d = *impl_;
  std::shared_ptr<Player> player;
  {
    std::lock_guard lock(d.playerMutex);
    player = std::move(d.player);
  }
  if (player) {
    {
      std::lock_guard guard(player->control);
      player->stopLocked();
      std::lock_guard lock(player->mutex);
      player->quit = true;
      player->wake.notify_all();
    }
    bool done;
    {
      std::unique_lock lock(player->mutex);
      done = player->finished.wait_for(lock, kJoinPatience, [&] { return player->done; });
    }
    if (d.monitor.joinable()) {
      if (done)
        d.monitor.join();
      else
        d.monitor.detach();  // stuck in the drive: it keeps the player, and nothing else
    }
    // The threads and the sound go down here, on the closing thread, even when the monitor is
    // stuck: it must never be the one to destroy them, perhaps after the application is gone.
    std::unique_ptr<AudioReader> reader;
    std::unique_ptr<AudioOutput> output;
    {
      std::lock_guard guard(player->control);
      std::lock_guard lock(player->mutex);
      reader = std::move(player->reader);
      output = std::move(player->output);
    }
    reader.reset();  // joins its thread, or leaves one stuck in a read behind
    output.reset();
  }
  if (d.lockFd >= 0) {
    ::close(d.lockFd);  // releases the lock
    d.lockFd = -1;
  }
}

TransportDriver::Snapshot CdioDriver::snapshot() const {
  Snapshot snap;
  const Player* p = impl_->player.get();
  if (!p) return snap;
  std::lock_guard lock(p->mutex);
  snap.position = static_cast<std::int32_t>(p->positionFramesLocked() / kFramesPerSector);
  if (p->status == DriveIo::Status::TrayOpen) {
    snap.mode = MCI_MODE_OPEN;
  } else if (!p->toc) {
    snap.mode = MCI_MODE_NOT_READY;
  } else {
    snap.toc = p->toc;
    snap.mode = p->playing ? MCI_MODE_PLAY : MCI_MODE_STOP;
  }
  return snap;
}

std::int64_t CdioDriver::positionFrames() const {
  const std::shared_ptr<const Player> p = impl_->current();
  if (!p) return 0;
  std::lock_guard lock(p->mutex);
  return p->positionFramesLocked();
}

bool CdioDriver::isPlaying() const {
  const std::shared_ptr<const Player> p = impl_->current();
  if (!p) return false;
  std::lock_guard lock(p->mutex);
  p->positionFramesLocked();
  return p->playing;
}

bool CdioDriver::isSilent() const {
  const std::shared_ptr<const Player> p = impl_->current();
  if (!p) return false;
  std::lock_guard lock(p->mutex);  // closing takes the output away under it
  return p->output && p->output->silent();
}

std::uint32_t CdioDriver::play(std::int32_t from) {
  Player* p = impl_->player.get();
  if (!p) return MCIERR_DEVICE_NOT_READY;
  std::lock_guard guard(p->control);
  p->stopLocked();
  // The table of contents and the disc it belongs to, taken together: a disc published after
  // this is noticed below, or by the monitor's stopIfStale() once this command is done.
  std::shared_ptr<const DiscToc> toc;
  std::uint64_t disc = 0;
  {
    std::lock_guard lock(p->mutex);
    toc = p->toc;
    disc = p->discGeneration;
  }
  if (impl_->options.duringPlay) impl_->options.duringPlay();
  if (!toc) return MCIERR_HARDWARE_NO_MEDIA;
  std::vector<PlaySpan> spans = AudioSpans(*toc, from);
  if (spans.empty()) {
    // Nothing audible lies ahead: as at the end of the disc.
    std::lock_guard lock(p->mutex);
    if (p->discGeneration == disc) p->resting = toc->leadout;
    return 0;
  }
  auto ring = std::make_shared<PcmRing>(kRingBytes);
  p->output->start(ring);
  bool stale = false;
  {
    std::lock_guard lock(p->mutex);
    stale = p->discGeneration != disc;
    if (!stale) {
      p->spans = spans;
      p->playing = true;
      p->playGeneration = disc;
    }
  }
  if (stale) {
    // The disc changed while this command ran: the old disc's sectors must not play on
    // whatever is in the drive now. As when a disc changes under a playback, the player is
    // stopped at the new disc's start (where publish() put it).
    p->output->stop();
    return 0;
  }
  p->reader->start(std::move(ring), std::move(spans), p->output->kicker());
  return 0;
}

std::uint32_t CdioDriver::stop() {
  Player* p = impl_->player.get();
  if (!p) return MCIERR_DEVICE_NOT_READY;
  std::lock_guard guard(p->control);
  p->stopLocked();
  return 0;
}

std::uint32_t CdioDriver::seek(std::int32_t lsn) {
  Player* p = impl_->player.get();
  if (!p) return MCIERR_DEVICE_NOT_READY;
  std::lock_guard guard(p->control);
  p->stopLocked();  // a seek ends playback, as on the MCI device
  std::lock_guard lock(p->mutex);
  p->resting = lsn;
  return 0;
}

std::uint32_t CdioDriver::openDoor() {
  Player* p = impl_->player.get();
  if (!p) return MCIERR_DEVICE_NOT_READY;
  {
    std::lock_guard guard(p->control);
    p->stopLocked();
  }
  // A virtual tray opens at once; the monitor confirms it at its next look.
  const bool image = p->io->moveVirtualTray(true);
  if (image) p->publish(DriveIo::Status::TrayOpen, false, std::nullopt);
  std::lock_guard lock(p->mutex);
  if (image)
    p->rescan = true;  // a look in flight may have seen the tray still closed
  else
    p->order = Player::Order::Eject;
  p->wake.notify_all();
  return 0;
}

std::uint32_t CdioDriver::closeDoor() {
  Player* p = impl_->player.get();
  if (!p) return MCIERR_DEVICE_NOT_READY;
  const bool image = p->io->moveVirtualTray(false);
  std::lock_guard lock(p->mutex);
  if (image)
    p->rescan = true;
  else
    p->order = Player::Order::Close;
  p->wake.notify_all();
  return 0;
}

bool CdioDriver::canEject() const {
  const Player* p = impl_->player.get();
  return p && p->io->canEject();
}

bool CdioDriver::takesImages(std::string* why) const {
  // Asked of the medium each time: the empty image drive becomes a real one when a drive is
  // plugged in.
  const Player* p = impl_->player.get();
  if (p && p->io->hasVirtualTray()) return true;
  if (why)
    *why = p ? "a real drive takes discs, not image files" : "the CD audio device is not open";
  return false;
}

bool CdioDriver::insertImage(const std::string& path, std::string* error) {
  auto fail = [&](std::string why) {
    if (error) *error = path + ": " + why;
    return false;
  };
  InstallCdioLogHandler();
  std::string why;
  if (!takesImages(&why)) return fail(why);
  Player* p = impl_->player.get();
  std::optional<DiscToc> toc = ReadImageToc(path, &why);
  if (!toc) return fail(why);
  {
    std::lock_guard guard(p->control);
    p->stopLocked();
  }
  // A drive that has just appeared keeps its place: the image is refused as on any drive.
  if (!p->io->insertImage(path, nullptr)) return fail("a real drive takes discs, not image files");
  p->publish(DriveIo::Status::DiscOk, true, std::move(toc));
  // A look the monitor had in flight may have seen the old image: have it look again.
  std::lock_guard lock(p->mutex);
  p->rescan = true;
  p->wake.notify_all();
  return true;
}

std::string CdioDriver::transportErrorText(std::uint32_t code) const {
  return code != 0 && code == impl_->errorCode ? impl_->errorText : std::string{};
}
