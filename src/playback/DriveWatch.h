#pragma once
// The medium of a player started on a computer without a CD drive: an empty image drive (its
// virtual tray open) that takes images as any image drive does, and that takes the first CD
// drive to appear in the device folder (a USB drive plugged in) as its medium while no image is
// in. A drive that goes away is a disc taken out: the tray shows open, and the empty image drive
// is back until that drive, or another, appears.
//
// Threads: as every DriveIo. The drive is looked for, taken and let go in status(), on the
// monitor thread's polls; the reader thread reads through whichever medium is current, which
// stays alive for a read in progress after it is let go. hasVirtualTray(), moveVirtualTray(),
// insertImage(), canEject() and maxSectorsPerRead() may be called from any thread.
#include <functional>
#include <memory>
#include <mutex>
#include <optional>
#include <string>
#include <vector>

#include "playback/DriveIo.h"

class DriveWatch : public DriveIo {
 public:
  // Takes a drive for this player (its in-use lock): a token held while the drive is used, or
  // null when another program uses it.
  using Claim = std::function<std::shared_ptr<void>(const std::string& node)>;

  // Drives are looked for among the nodes sr0, sr1, ... of folder.
  DriveWatch(std::string folder, Claim claim);
  ~DriveWatch() override;

  Status status() override;
  std::optional<DiscToc> readToc() override;
  bool readAudio(std::int32_t lsn, int count, std::byte* out) override;
  int maxSectorsPerRead() const override;
  void setSpeed(int times) override;
  bool eject() override;
  bool closeTray() override;
  bool canEject() const override;
  bool insertImage(const std::string& path, std::string* error) override;
  bool hasVirtualTray() const override;
  bool moveVirtualTray(bool open) override;

 private:
  std::shared_ptr<DriveIo> current() const;

  const std::string folder_;
  const Claim claim_;
  const std::shared_ptr<DriveIo> image_;  // the image drive, used while no drive is
  mutable std::mutex mutex_;              // guards the four below; taken before image_'s own
  std::shared_ptr<DriveIo> drive_;        // the drive in use, or null
  std::string drivePath_;
  std::shared_ptr<void> claimed_;  // the drive's in-use lock
  int speed_ = 0;                  // the reader's last request (0: the drive's own full speed)
};

// Whether the node at path is a CD drive (asked without waking the drive).
bool IsCdDrive(const std::string& path);

// The CD drives among the nodes sr0, sr1, ... of folder, in the order of their numbers.
std::vector<std::string> FindCdDrives(const std::string& folder);

// Where drive nodes appear: /dev, or for tests the folder ZARNCD_DRIVE_FOLDER names.
std::string DriveFolder();

// The system's default CD drive (the first drive of ZARNCD_DRIVE_FOLDER when that is set);
// empty when there is none.
std::string DefaultCdDrive();
