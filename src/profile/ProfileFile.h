// The profile files on disk: cdplayer.ini and ZarnCD.ini are read and written only through
// ProfileFile. Reads come from a cache checked against the file's identity and times; each update
// is made under a lock and replaces the file atomically (or, where that would lose the file's
// links or owner, writes it in place). docs/profile-files.md describes the rules and the safety
// measures. The C++ standard library and POSIX only.
#pragma once

#include <cstdint>
#include <functional>
#include <memory>
#include <optional>
#include <stdexcept>
#include <string>
#include <string_view>
#include <vector>

#include "profile/ProfileText.h"

// Raised when a file cannot be written; what() is "<path> に書き込めません" in UTF-8.
class EProfileError : public std::runtime_error {
 public:
  explicit EProfileError(const std::string& path, int error = 0);
  const std::string& path() const noexcept { return path_; }
  int error() const noexcept { return error_; }  // the errno that caused it, 0 if none

 private:
  std::string path_;
  int error_;
};

// The accessor: holds the path and nothing else of the file.
class ProfileFile {
 public:
  // Several writes applied as one update: recorded in order, then applied by ProfileFile::Apply
  // under one lock and one rename, so that other readers see all of them or none.
  class Update {
   public:
    void Profile_Write_String(std::string_view section, std::string_view key,
                              std::string_view value);
    void Profile_Write_Integer(std::string_view section, std::string_view key, std::int32_t value);
    void Profile_Write_Bool(std::string_view section, std::string_view key, bool value);
    bool empty() const { return writes_.empty(); }
    std::size_t size() const { return writes_.size(); }

    using Write = ProfileWrite;
    const std::vector<Write>& writes() const { return writes_; }

   private:
    std::vector<Write> writes_;
  };

  // One version of the file, parsed once: reads from a snapshot are consistent with each other
  // even while another program replaces the file. Cheap to copy.
  class Snapshot {
   public:
    std::string Profile_Read_String(std::string_view section, std::string_view key,
                                    std::string_view def) const;
    std::int32_t Profile_Read_Integer(std::string_view section, std::string_view key,
                                      std::int32_t def) const;
    bool Profile_Read_Bool(std::string_view section, std::string_view key, bool def) const;

   private:
    friend class ProfileFile;
    std::shared_ptr<const ProfileText> parsed_;  // null: no file
  };

  explicit ProfileFile(std::string path);
  const std::string& path() const { return path_; }

  std::string Profile_Read_String(std::string_view section, std::string_view key,
                                  std::string_view def) const;
  std::int32_t Profile_Read_Integer(std::string_view section, std::string_view key,
                                    std::int32_t def) const;
  bool Profile_Read_Bool(std::string_view section, std::string_view key, bool def) const;
  void Profile_Write_String(std::string_view section, std::string_view key, std::string_view value);
  void Profile_Write_Integer(std::string_view section, std::string_view key, std::int32_t value);
  void Profile_Write_Bool(std::string_view section, std::string_view key, bool value);

  Snapshot Read_Snapshot() const;
  // Applies every write of the update in order, all or none; raises EProfileError on failure.
  void Apply(const Update& update);
  // The same for writes that depend on what the file holds: `build` is called under the lock
  // with the file as it is then (no file: an empty snapshot) and returns the update to apply.
  // An empty update writes nothing.
  void Apply(const std::function<Update(const Snapshot& current)>& build);

  // For benchmarks and tests: with the cache off every read parses the file again.
  static void Set_Cache_Enabled(bool enabled);
  static void Clear_Cache();

 private:
  std::string path_;
};
