// The profile operations: the only way cdplayer.ini and
// ZarnCD.ini are read or written. The Windows functions GetPrivateProfileStringA and
// WritePrivateProfileStringA are reproduced on bytes; nothing here converts text (all texts are
// code page 932 bytes) and nothing here uses Qt: the C++ standard library and POSIX only, so the
// unit compiles and fuzzes alone.
//
// Reading (as Windows does):
//  - A line whose first non-blank byte is "[" and that holds a "]" opens a section; its name is
//    what lies between the "[" and the last "]", without surrounding blanks (bytes after that "]"
//    are ignored). A "[" line without "]" is an ordinary line.
//  - A line whose first non-blank byte is ";" is a comment. Any other line with an "=" is a key:
//    the name is the text before the first "=", the value the text after it, both without
//    surrounding blanks (space, tab, VT, FF, CR, LF and the Ctrl-Z byte 1A). A line with no "="
//    is not a key. Lines before the first section belong to no section.
//  - Section and key names match without regard to ASCII case (a double-byte CP932 character is
//    compared as it is, so its trail byte never folds); the names asked for are compared without
//    their surrounding blanks. The first of two equal sections wins (the keys of a later
//    duplicate are not seen), and the first of two equal keys in it wins.
//  - A value enclosed in one pair of matching single or double quotation marks loses them. A
//    present empty value is empty text, not the default. At most 1023 bytes are returned (the
//    1024-byte buffer of the Windows call); the cut never splits a double-byte character, so it
//    can give 1022. The default is returned with its trailing spaces removed and is cut likewise,
//    as Windows does.
//  - Lines end with CRLF, LF or CR, mixed freely.
//
// Writing keeps every other byte of the file: line ends, blank lines, comments, unknown keys and
// the spelling of existing names. An existing key (the one a read finds) keeps its line up to the
// "=" and the blanks after it; the rest of the line is replaced by the value. A new key goes
// right after the last key line of the section (or after its header when it has none); a new
// section goes at the end of the file, with no blank line before it. A missing final line end is
// supplied first. New lines end with CRLF, as on Windows. Two deviations from Windows, both to
// protect data: writing the value a key already reads as leaves its line untouched, which keeps a
// stored value longer than 1023 bytes intact when its first 1023 bytes are written back; and a name
// or value that would break the file's structure (a line end or NUL byte anywhere, "=" in a key
// name, a key name beginning with ";" or looking like a header, a section name that would not read
// back, such as one ending in a lone CP932 lead byte that swallows the "]") is refused with
// EProfileError and nothing is written.
//
// Safety. Each update takes the locks, reads the file, applies the change in memory, writes a
// new file beside it (created exclusively, named ".<name>.zarncd-XXXXXX", with the original's
// permission bits and owner), flushes it with fsync, renames it over the original and flushes the
// directory. Readers thus see the old file or the new one, never a torn one; a failed update
// leaves the file exactly as it was and raises EProfileError. A symbolic link is followed to its
// final target, which is the file replaced; the link stays a link.
//
// Writing in place. A rename would lose what belongs to the file rather than to its bytes, and
// some folders refuse the new file. The file is therefore written in place, under the same locks,
// then flushed with fsync, when it has more than one name (a hard link), when its owner or group
// cannot be given to the new file (a file of another user that this user may write), or when the
// folder refuses the new file (EACCES, EPERM) while the file itself may be written. The blocks
// the file grows by are reserved first, so that a full file system refuses such a write before a
// byte has changed, and a write failing later puts the old bytes back as far as the system lets
// it; but a reader may see an in-place write in progress, which is why it is only the fallback.
//
// Only regular files. Every open uses O_NONBLOCK, and a file that is not a regular file (a FIFO,
// a device, a directory, also as the target of a symbolic link) reads as no file and is refused
// for writing with EProfileError (EISDIR for a directory, else EINVAL). Nothing is created beside
// it, not even the lock file.
//
// Locking: two exclusive flock(2) locks, always in this order. First the lock file
// "<target>.lock" beside the (symlink-resolved) target, created when missing and never removed
// (removing it would let two writers lock two different files); it serialises, among other
// things, the creation of a missing file. Then the file itself, re-checked after locking to be
// still the file at the path (a writer that held the lock may have replaced it); this lock orders
// in-place writes against replacements. When the folder refuses the lock file and there is none
// (or none this user may open), the lock on the file itself stands in for it: every writer takes
// that lock too, so writers of this program still exclude each other (a file that does not exist
// then cannot be created anyway). Every writer that takes the same locks (this program twice, or
// any program following this convention) serialises its read-modify-write, so no update is lost.
// Readers take no lock. Temporary files left by a killed writer are removed by the next writer
// that holds the lock file, which knows that no other writer is in progress.
//
// Cache: reads reuse the parsed file while its device, inode, size and modification time (in
// nanoseconds) are unchanged. A file modified within the last moments (less than the file
// system's timestamp granularity before it was read) is not trusted and is read again, so a
// change made by another program within the same clock tick and of the same size is still seen.
#pragma once

#include <cstdint>
#include <functional>
#include <memory>
#include <optional>
#include <stdexcept>
#include <string>
#include <string_view>
#include <vector>

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

// The conversion behind Profile_Read_Integer, without its "0x" rewriting and without a default:
// leading spaces skipped, then an optional "+" or "-" and one or more decimal digits in
// -2147483648..2147483647, or "$" and one or more hexadecimal digits (no sign) whose value fits
// in 32 bits, taken as a 32-bit pattern ("$FFFFFFFF" is -1). Anything else gives nullopt.
std::optional<std::int32_t> Profile_Str_To_Int(std::string_view text);

namespace profile_detail {
struct Parsed;
}

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

    struct Write {
      std::string section, key, value;
    };
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
    std::shared_ptr<const profile_detail::Parsed> parsed_;  // null: no file
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

// The same rules on a file's bytes, without any file: used by the accessor, the fuzz target and
// tests. Profile_Text_Read gives nullopt where the file has no such key (the caller's default
// applies). Profile_Text_Apply returns the new bytes or raises std::invalid_argument for a name
// or value that would break the file's structure.
std::optional<std::string> Profile_Text_Read(std::string_view text, std::string_view section,
                                             std::string_view key);
std::string Profile_Text_Apply(std::string_view text,
                               const std::vector<ProfileFile::Update::Write>& writes);
