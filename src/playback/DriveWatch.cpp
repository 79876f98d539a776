#include "playback/DriveWatch.h"

#include <cdio/cdio.h>
#include <dirent.h>
#include <fcntl.h>
#include <linux/cdrom.h>
#include <sys/ioctl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <cstring>

#include "playback/CueImage.h"

namespace {

// "sr" and a number: the kernel's names for SCSI (and so USB and SATA) CD drives.
std::optional<int> DriveNumber(const char* name) {
  if (std::strncmp(name, "sr", 2) != 0 || !name[2]) return std::nullopt;
  int number = 0;
  for (const char* c = name + 2; *c; ++c) {
    if (*c < '0' || *c > '9' || number > 9999) return std::nullopt;
    number = number * 10 + (*c - '0');
  }
  return number;
}

// Not through the logging categories: the monitor thread may be left behind in a hung drive and
// come back here after main() has returned, when the categories may already be gone.
void Say(const char* what, const std::string& node) {
  std::fprintf(stderr, "zarncd.device: %s %s\n", what, node.c_str());
}

bool IsNode(const std::string& path) {
  struct stat st {};
  return ::stat(path.c_str(), &st) == 0 && (S_ISBLK(st.st_mode) || S_ISCHR(st.st_mode));
}

}  // namespace

bool IsCdDrive(const std::string& path) {
  const int fd = ::open(path.c_str(), O_RDONLY | O_NONBLOCK | O_CLOEXEC);
  if (fd < 0) return false;
  const bool drive = ::ioctl(fd, CDROM_GET_CAPABILITY, 0) >= 0;
  ::close(fd);
  return drive;
}

std::vector<std::string> FindCdDrives(const std::string& folder) {
  std::vector<std::pair<int, std::string>> found;
  if (DIR* dir = ::opendir(folder.c_str())) {
    while (const dirent* entry = ::readdir(dir))
      if (const auto number = DriveNumber(entry->d_name))
        found.emplace_back(*number, folder + "/" + entry->d_name);
    ::closedir(dir);
  }
  std::sort(found.begin(), found.end());
  std::vector<std::string> drives;
  for (auto& [number, path] : found)
    if (IsNode(path) && IsCdDrive(path)) drives.push_back(std::move(path));
  return drives;
}

std::string DriveFolder() {
  const char* folder = std::getenv("ZARNCD_DRIVE_FOLDER");
  return folder && *folder ? folder : "/dev";
}

std::string DefaultCdDrive() {
  if (const char* folder = std::getenv("ZARNCD_DRIVE_FOLDER"); folder && *folder) {
    const std::vector<std::string> drives = FindCdDrives(folder);
    return drives.empty() ? std::string() : drives.front();
  }
  char* name = cdio_get_default_device(nullptr);
  if (!name) return {};
  std::string path(name);
  cdio_free(name);
  return path;
}

DriveWatch::DriveWatch(std::string folder, Claim claim)
    : folder_(std::move(folder)), claim_(std::move(claim)), image_(MakeDiscImageIo({})) {
  image_->moveVirtualTray(true);
}

DriveWatch::~DriveWatch() = default;

std::shared_ptr<DriveIo> DriveWatch::current() const {
  std::lock_guard lock(mutex_);
  return drive_ ? drive_ : image_;
}

DriveIo::Status DriveWatch::status() {
  std::shared_ptr<DriveIo> drive;
  std::string path;
  {
    std::lock_guard lock(mutex_);
    drive = drive_;
    path = drivePath_;
  }
  if (drive) {
    if (IsNode(path)) return drive->status();
    // Unplugged. A read in progress keeps the drive until it comes back.
    Say("the CD drive went away:", path);
    std::lock_guard lock(mutex_);
    drive_.reset();
    drivePath_.clear();
    claimed_.reset();
    return Status::TrayOpen;
  }

  const Status status = image_->status();
  if (status != Status::TrayOpen) return status;
  // No image in: a drive that is there now is used. The nodes are looked at without the lock,
  // so that a window putting an image in never waits for them.
  for (const std::string& node : FindCdDrives(folder_)) {
    std::shared_ptr<void> claimed = claim_ ? claim_(node) : std::make_shared<int>(0);
    if (!claimed) continue;  // another program's
    std::shared_ptr<DriveIo> found = MakeLinuxDriveIo(node);
    int speed;
    {
      std::lock_guard lock(mutex_);
      // An image put in meanwhile stays.
      if (const Status now = image_->status(); now != Status::TrayOpen) return now;
      drive_ = found;
      drivePath_ = node;
      claimed_ = std::move(claimed);
      speed = speed_;
    }
    Say("using the CD drive", node);
    // The reader asks for its speed once: a drive that comes while it runs reads as quietly as
    // the one before. Outside the lock, which a drive slow to answer must not hold.
    if (speed != 0) found->setSpeed(speed);
    // This look still shows the tray open, so that the next one reads the drive's disc afresh.
    return Status::TrayOpen;
  }
  return status;
}

std::optional<DiscToc> DriveWatch::readToc() {
  return current()->readToc();
}

bool DriveWatch::readAudio(std::int32_t lsn, int count, std::byte* out) {
  return current()->readAudio(lsn, count, out);
}

int DriveWatch::maxSectorsPerRead() const {
  return current()->maxSectorsPerRead();
}

void DriveWatch::setSpeed(int times) {
  std::shared_ptr<DriveIo> io;
  {
    std::lock_guard lock(mutex_);
    speed_ = times;
    io = drive_ ? drive_ : image_;
  }
  io->setSpeed(times);
}

bool DriveWatch::eject() {
  return current()->eject();
}

bool DriveWatch::closeTray() {
  return current()->closeTray();
}

bool DriveWatch::canEject() const {
  return current()->canEject();
}

bool DriveWatch::insertImage(const std::string& path, std::string* error) {
  std::lock_guard lock(mutex_);
  if (drive_) return DriveIo::insertImage(path, error);
  return image_->insertImage(path, error);
}

bool DriveWatch::hasVirtualTray() const {
  std::lock_guard lock(mutex_);
  return !drive_;
}

bool DriveWatch::moveVirtualTray(bool open) {
  std::lock_guard lock(mutex_);
  return !drive_ && image_->moveVirtualTray(open);
}
