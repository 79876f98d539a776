#include "profile/ProfileFile.h"

#include <dirent.h>
#include <fcntl.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <chrono>
#include <cstring>
#include <ctime>
#include <functional>
#include <mutex>
#include <random>
#include <utility>

EProfileError::EProfileError(const std::string& path, int error)
    : std::runtime_error(path + " に書き込めません"), path_(path), error_(error) {}

namespace {

constexpr std::string_view kTempInfix = ".zarncd-";

struct StatKey {
  dev_t dev = 0;
  ino_t ino = 0;
  off_t size = 0;
  timespec mtime{}, ctime{};
  bool operator==(const StatKey& o) const {
    return dev == o.dev && ino == o.ino && size == o.size && mtime.tv_sec == o.mtime.tv_sec &&
           mtime.tv_nsec == o.mtime.tv_nsec && ctime.tv_sec == o.ctime.tv_sec &&
           ctime.tv_nsec == o.ctime.tv_nsec;
  }
};
StatKey Key_Of(const struct stat& st) {
  return {st.st_dev, st.st_ino, st.st_size, st.st_mtim, st.st_ctim};
}

std::int64_t Nanos(const timespec& t) {
  return static_cast<std::int64_t>(t.tv_sec) * 1000000000 + t.tv_nsec;
}

// A parse is trusted only when the file's last change lies clearly before the moment its
// reading began: a later change within the same timestamp tick would otherwise go unseen. File
// systems whose times carry no nanoseconds get two seconds (FAT has that granularity).
bool Trusted(const StatKey& key, const timespec& readStart) {
  std::int64_t changed = std::max(Nanos(key.mtime), Nanos(key.ctime));
  bool coarse = key.mtime.tv_nsec == 0 && key.ctime.tv_nsec == 0;
  std::int64_t margin = coarse ? 2'000'000'000 : 50'000'000;
  return changed + margin < Nanos(readStart);
}

struct CacheEntry {
  std::string path;
  StatKey key;
  std::shared_ptr<const ProfileText> parsed;
  std::uint64_t used = 0;
};

struct Cache {
  std::mutex mutex;
  bool enabled = true;
  std::vector<CacheEntry> entries;  // a handful of files at most
  std::uint64_t clock = 0;
  static constexpr std::size_t kMaxEntries = 8;
};
Cache& The_Cache() {
  static Cache cache;
  return cache;
}

// -----------------------------------------------------------------------------------------------
// Files

class Fd {
 public:
  explicit Fd(int fd = -1) : fd_(fd) {}
  ~Fd() { reset(); }
  Fd(Fd&& other) noexcept : fd_(other.release()) {}
  Fd& operator=(Fd&& other) noexcept {
    if (this != &other) reset(other.release());
    return *this;
  }
  Fd(const Fd&) = delete;
  Fd& operator=(const Fd&) = delete;
  int get() const { return fd_; }
  void reset(int fd = -1) {
    if (fd_ >= 0) ::close(fd_);
    fd_ = fd;
  }
  int release() { return std::exchange(fd_, -1); }

 private:
  int fd_;
};

// Only regular files are profiles. A FIFO would block open(2) and read(2) for ever, and a device
// has no business being read or written as a file; both are refused like a directory is.
int Not_Regular_Error(mode_t mode) {
  return S_ISDIR(mode) ? EISDIR : EINVAL;
}

// Every open of a profile: O_NONBLOCK so that a FIFO or a device put in the file's place cannot
// block the program (cleared again once fstat has shown a regular file), no controlling terminal.
constexpr int kOpenFlags = O_CLOEXEC | O_NONBLOCK | O_NOCTTY;

// After a successful fstat: fails with the reason unless fd is a regular file, and makes its
// reads and writes blocking again.
bool Keep_Regular(int fd, const struct stat& st) {
  if (!S_ISREG(st.st_mode)) {
    errno = Not_Regular_Error(st.st_mode);
    return false;
  }
  const int flags = ::fcntl(fd, F_GETFL);
  return flags >= 0 && ::fcntl(fd, F_SETFL, flags & ~O_NONBLOCK) == 0;
}

// Reads fd from its current offset to its end.
bool Read_All(int fd, std::string& out, std::size_t expected) {
  out.clear();
  out.resize(expected);
  std::size_t got = 0;
  for (;;) {
    if (got == out.size()) out.resize(out.size() + 65536);  // the file grew meanwhile
    ssize_t n = ::read(fd, out.data() + got, out.size() - got);
    if (n < 0) {
      if (errno == EINTR) continue;
      return false;
    }
    if (n == 0) break;
    got += static_cast<std::size_t>(n);
  }
  out.resize(got);
  return true;
}

enum class ReadStatus { Ok, Missing, Failed };

ReadStatus Read_Whole_File(const std::string& path, std::string& out, struct stat& st) {
  // Something that is not a regular file is not even opened (opening a device can act on it).
  if (::stat(path.c_str(), &st) == 0 && !S_ISREG(st.st_mode)) {
    errno = Not_Regular_Error(st.st_mode);
    return ReadStatus::Failed;
  }
  Fd fd(::open(path.c_str(), O_RDONLY | kOpenFlags));
  if (fd.get() < 0)
    return errno == ENOENT || errno == ENOTDIR ? ReadStatus::Missing : ReadStatus::Failed;
  if (::fstat(fd.get(), &st) != 0 || !Keep_Regular(fd.get(), st)) return ReadStatus::Failed;
  if (!Read_All(fd.get(), out, static_cast<std::size_t>(st.st_size))) return ReadStatus::Failed;
  return ReadStatus::Ok;
}

std::shared_ptr<const ProfileText> Load(const std::string& path) {
  Cache& cache = The_Cache();
  timespec start{};
  ::clock_gettime(CLOCK_REALTIME, &start);
  bool enabled;
  {
    std::lock_guard lock(cache.mutex);
    enabled = cache.enabled;
  }
  if (enabled) {
    struct stat st {};
    if (::stat(path.c_str(), &st) != 0 || !S_ISREG(st.st_mode)) return nullptr;
    StatKey key = Key_Of(st);
    std::lock_guard lock(cache.mutex);
    for (auto& e : cache.entries) {
      if (e.path == path && e.key == key && Trusted(e.key, start)) {
        e.used = ++cache.clock;
        return e.parsed;
      }
    }
  }
  std::string text;
  struct stat st {};
  ::clock_gettime(CLOCK_REALTIME, &start);
  if (Read_Whole_File(path, text, st) != ReadStatus::Ok) return nullptr;
  auto parsed = std::make_shared<const ProfileText>(std::move(text));
  StatKey key = Key_Of(st);
  if (enabled && Trusted(key, start)) {
    std::lock_guard lock(cache.mutex);
    auto it = std::find_if(cache.entries.begin(), cache.entries.end(),
                           [&](const CacheEntry& e) { return e.path == path; });
    if (it == cache.entries.end()) {
      if (cache.entries.size() >= Cache::kMaxEntries) {
        it = std::min_element(
            cache.entries.begin(), cache.entries.end(),
            [](const CacheEntry& a, const CacheEntry& b) { return a.used < b.used; });
      } else {
        it = cache.entries.emplace(cache.entries.end());
      }
    }
    *it = CacheEntry{path, key, parsed, ++cache.clock};
  }
  return parsed;
}

void Forget(const std::string& path) {
  Cache& cache = The_Cache();
  std::lock_guard lock(cache.mutex);
  cache.entries.erase(std::remove_if(cache.entries.begin(), cache.entries.end(),
                                     [&](const CacheEntry& e) { return e.path == path; }),
                      cache.entries.end());
}

// -----------------------------------------------------------------------------------------------
// Writing

std::string Dir_Name(const std::string& p) {
  auto slash = p.rfind('/');
  if (slash == std::string::npos) return ".";
  if (slash == 0) return "/";
  return p.substr(0, slash);
}
std::string Base_Name(const std::string& p) {
  auto slash = p.rfind('/');
  return slash == std::string::npos ? p : p.substr(slash + 1);
}

// Follows symbolic links to the file that is to be replaced (which may not exist yet). What is
// there must be a regular file: nothing is done beside anything else, not even its lock file.
std::string Resolve_Target(const std::string& path) {
  std::string p = path;
  for (int hops = 0; hops < 40; ++hops) {
    struct stat st {};
    if (::lstat(p.c_str(), &st) != 0) {
      if (errno == ENOENT) return p;
      throw EProfileError(path, errno);
    }
    if (!S_ISLNK(st.st_mode)) {
      if (!S_ISREG(st.st_mode)) throw EProfileError(path, Not_Regular_Error(st.st_mode));
      return p;
    }
    std::string target(static_cast<std::size_t>(st.st_size > 0 ? st.st_size : 256) + 1, '\0');
    ssize_t n;
    for (;;) {
      n = ::readlink(p.c_str(), target.data(), target.size());
      if (n < 0) throw EProfileError(path, errno);
      if (static_cast<std::size_t>(n) < target.size()) break;
      target.resize(target.size() * 2);
    }
    target.resize(static_cast<std::size_t>(n));
    p = (!target.empty() && target[0] == '/') ? target : Dir_Name(p) + "/" + target;
  }
  throw EProfileError(path, ELOOP);
}

void Lock_Exclusive(int fd, const std::string& path) {
  while (::flock(fd, LOCK_EX) != 0) {
    if (errno != EINTR) throw EProfileError(path, errno);
  }
}

// Opens "<target>.lock", creating it when missing. An invalid Fd, with the folder's reason in
// `refused`, when the folder refuses to create it and there is none (or none this user may
// open): the lock on the file itself must then do.
Fd Open_Lock_File(const std::string& target, const std::string& path, int& refused) {
  const std::string name = target + ".lock";
  // Never through a symbolic link: a link planted there would have the lock made anywhere.
  Fd fd(::open(name.c_str(), O_RDWR | O_CREAT | O_NOFOLLOW | kOpenFlags, 0666));
  if (fd.get() < 0 && (errno == EACCES || errno == EPERM || errno == EROFS)) {
    refused = errno;
    fd.reset(::open(name.c_str(), O_RDONLY | O_NOFOLLOW | kOpenFlags));
    if (fd.get() < 0 && (errno == ENOENT || errno == EACCES || errno == EPERM)) return Fd();
  }
  if (fd.get() < 0) throw EProfileError(path, errno);
  struct stat st {};
  if (::fstat(fd.get(), &st) != 0 || !Keep_Regular(fd.get(), st)) throw EProfileError(path, errno);
  return fd;
}

// Opens the existing target for reading and writing and locks it. A writer that held the lock
// before may have replaced the file meanwhile, so the lock counts only while the locked file is
// still the one at the path; otherwise the file now there is locked instead. An invalid Fd when
// there is no file.
Fd Open_And_Lock_Target(const std::string& target, const std::string& path, struct stat& st) {
  for (int attempt = 0;; ++attempt) {
    Fd fd(::open(target.c_str(), O_RDWR | kOpenFlags));
    if (fd.get() < 0) {
      if (errno == ENOENT) return Fd();
      throw EProfileError(path, errno);  // a read-only file is not replaced either
    }
    if (::fstat(fd.get(), &st) != 0 || !Keep_Regular(fd.get(), st))
      throw EProfileError(path, errno);
    Lock_Exclusive(fd.get(), path);
    struct stat now {};
    if (::stat(target.c_str(), &now) == 0 && now.st_dev == st.st_dev && now.st_ino == st.st_ino) {
      if (::fstat(fd.get(), &st) != 0) throw EProfileError(path, errno);
      return fd;
    }
    if (attempt >= 1000) throw EProfileError(path, EAGAIN);
  }
}

// Removes temporary files that a killed writer left; called with the lock file held.
void Remove_Stale_Temps(const std::string& dir, const std::string& base) {
  DIR* d = ::opendir(dir.c_str());
  if (!d) return;
  const std::string prefix = "." + base + std::string(kTempInfix);
  while (dirent* e = ::readdir(d)) {
    std::string_view name(e->d_name);
    if (name.size() == prefix.size() + 6 && name.substr(0, prefix.size()) == prefix)
      ::unlinkat(::dirfd(d), e->d_name, 0);
  }
  ::closedir(d);
}

std::string Random_Suffix() {
  static thread_local std::mt19937_64 rng{std::random_device{}() ^
                                          (static_cast<std::uint64_t>(::getpid()) << 32)};
  static constexpr char kChars[] = "abcdefghijklmnopqrstuvwxyzABCDEFGHIJKLMNOPQRSTUVWXYZ0123456789";
  std::string s(6, 'x');
  for (auto& c : s) c = kChars[rng() % (sizeof(kChars) - 1)];
  return s;
}

bool Write_All(int fd, std::string_view data) {
  while (!data.empty()) {
    ssize_t n = ::write(fd, data.data(), data.size());
    if (n < 0) {
      if (errno == EINTR) continue;
      return false;
    }
    data.remove_prefix(static_cast<std::size_t>(n));
  }
  return true;
}

bool PWriteAll(int fd, std::string_view data, off_t at) {
  while (!data.empty()) {
    ssize_t n = ::pwrite(fd, data.data(), data.size(), at);
    if (n < 0) {
      if (errno == EINTR) continue;
      return false;
    }
    data.remove_prefix(static_cast<std::size_t>(n));
    at += n;
  }
  return true;
}

// Writes `updated` over the file's `old` bytes through fd (open for writing and locked), then
// flushes it. Readers may see the write in progress, which is why this is only the fallback. The
// blocks past the old end are reserved first, so that a full file system refuses the write
// before a byte has changed; should a later step fail, the old bytes are put back as far as the
// system lets them.
void Write_In_Place(int fd, const std::string& old, const std::string& updated,
                    const std::string& path) {
  const auto oldSize = static_cast<off_t>(old.size()), newSize = static_cast<off_t>(updated.size());
  if (newSize > oldSize) {
    int r;
    do {
      r = ::fallocate(fd, FALLOC_FL_KEEP_SIZE, oldSize, newSize - oldSize);
    } while (r != 0 && errno == EINTR);
    if (r != 0 && errno != EOPNOTSUPP && errno != ENOSYS) {
      const int error = errno;
      (void)::ftruncate(fd, oldSize);  // gives back whatever was reserved
      throw EProfileError(path, error);
    }
  }
  if (PWriteAll(fd, updated, 0) && (newSize >= oldSize || ::ftruncate(fd, newSize) == 0) &&
      ::fsync(fd) == 0)
    return;
  const int error = errno;
  if (PWriteAll(fd, old, 0)) (void)::ftruncate(fd, oldSize);
  (void)::fsync(fd);
  throw EProfileError(path, error);
}

// What an update is made of: the writes, given the file's bytes under the lock (null when
// there is no file).
using BuildWrites = std::function<std::vector<ProfileWrite>(const std::string* current)>;

void Apply_To_File(const std::string& path, const BuildWrites& build) {
  const std::string target = Resolve_Target(path);
  const std::string dir = Dir_Name(target), base = Base_Name(target);

  // Two locks, always taken in this order: the lock file, which also serialises the creation of
  // a missing file, and the file itself, which stands in for the lock file where the folder
  // refuses one and which orders every replacement of the file against an in-place write.
  int lockRefused = 0;
  Fd lock = Open_Lock_File(target, path, lockRefused);
  if (lock.get() >= 0) Lock_Exclusive(lock.get(), path);
  struct stat st {};
  Fd file = Open_And_Lock_Target(target, path, st);
  const bool exists = file.get() >= 0;
  if (lock.get() < 0 && !exists) throw EProfileError(path, lockRefused);  // cannot create it
  if (lock.get() >= 0) Remove_Stale_Temps(dir, base);

  std::string old;
  if (exists && !Read_All(file.get(), old, static_cast<std::size_t>(st.st_size)))
    throw EProfileError(path, errno);

  std::string updated;
  try {
    const std::vector<ProfileWrite> writes = build(exists ? &old : nullptr);
    if (writes.empty()) return;
    updated = Profile_Text_Apply(old, writes);
  } catch (const std::invalid_argument&) {
    throw EProfileError(path, EINVAL);
  } catch (const std::bad_alloc&) {
    throw EProfileError(path, ENOMEM);
  }
  if (exists && updated == old) return;  // nothing changes: the file is not touched

  // The new file replaces the old one by rename, unless that would lose something the file has:
  // another name (a hard link), or an owner this user cannot give the new file. Then, and when
  // the folder refuses the new file while the file itself may be written, it is written in place.
  bool inPlace = exists && st.st_nlink > 1;
  std::string temp;
  Fd out;
  for (int attempt = 0; !inPlace && out.get() < 0; ++attempt) {
    temp = dir + "/." + base + std::string(kTempInfix) + Random_Suffix();
    out.reset(::open(temp.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC, exists ? 0600 : 0666));
    if (out.get() >= 0 || errno == EEXIST) {
      if (out.get() < 0 && attempt > 100) throw EProfileError(path, EEXIST);
    } else if (exists && (errno == EACCES || errno == EPERM)) {
      inPlace = true;
    } else {
      throw EProfileError(path, errno);
    }
  }
  auto fail = [&](int error) {
    out.reset();
    ::unlink(temp.c_str());
    throw EProfileError(path, error);
  };
  if (!inPlace && exists) {
    struct stat made {};
    if (::fstat(out.get(), &made) != 0) fail(errno);
    if ((made.st_uid != st.st_uid || made.st_gid != st.st_gid) &&
        ::fchown(out.get(), st.st_uid, st.st_gid) != 0) {
      if (errno != EPERM) fail(errno);
      out.reset();
      ::unlink(temp.c_str());
      inPlace = true;
    }
  }
  if (inPlace) {
    Write_In_Place(file.get(), old, updated, path);
  } else {
    if (exists && ::fchmod(out.get(), st.st_mode & 07777) != 0) fail(errno);
    if (!Write_All(out.get(), updated)) fail(errno);
    if (::fsync(out.get()) != 0) fail(errno);
    if (::close(out.release()) != 0) fail(errno);
    if (::rename(temp.c_str(), target.c_str()) != 0) fail(errno);
    Fd dirFd(::open(dir.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC));
    if (dirFd.get() >= 0) (void)::fsync(dirFd.get());
  }
  Forget(path);
  if (target != path) Forget(target);
}

}  // namespace

// -----------------------------------------------------------------------------------------------
// The accessor

void ProfileFile::Update::Profile_Write_String(std::string_view section, std::string_view key,
                                               std::string_view value) {
  writes_.push_back({std::string(section), std::string(key), std::string(value)});
}
void ProfileFile::Update::Profile_Write_Integer(std::string_view section, std::string_view key,
                                                std::int32_t value) {
  Profile_Write_String(section, key, std::to_string(value));
}
void ProfileFile::Update::Profile_Write_Bool(std::string_view section, std::string_view key,
                                             bool value) {
  Profile_Write_String(section, key, value ? "1" : "0");
}

std::string ProfileFile::Snapshot::Profile_Read_String(std::string_view section,
                                                       std::string_view key,
                                                       std::string_view def) const {
  if (parsed_) {
    if (auto v = parsed_->Read(section, key)) return std::move(*v);
  }
  return Profile_Default_Result(def);
}
std::int32_t ProfileFile::Snapshot::Profile_Read_Integer(std::string_view section,
                                                         std::string_view key,
                                                         std::int32_t def) const {
  return Profile_Integer_From_Text(Profile_Read_String(section, key, ""), def);
}
bool ProfileFile::Snapshot::Profile_Read_Bool(std::string_view section, std::string_view key,
                                              bool def) const {
  return Profile_Read_Integer(section, key, def ? 1 : 0) != 0;
}

ProfileFile::ProfileFile(std::string path) : path_(std::move(path)) {}

ProfileFile::Snapshot ProfileFile::Read_Snapshot() const {
  Snapshot s;
  s.parsed_ = Load(path_);
  return s;
}

std::string ProfileFile::Profile_Read_String(std::string_view section, std::string_view key,
                                             std::string_view def) const {
  return Read_Snapshot().Profile_Read_String(section, key, def);
}
std::int32_t ProfileFile::Profile_Read_Integer(std::string_view section, std::string_view key,
                                               std::int32_t def) const {
  return Read_Snapshot().Profile_Read_Integer(section, key, def);
}
bool ProfileFile::Profile_Read_Bool(std::string_view section, std::string_view key,
                                    bool def) const {
  return Read_Snapshot().Profile_Read_Bool(section, key, def);
}

void ProfileFile::Profile_Write_String(std::string_view section, std::string_view key,
                                       std::string_view value) {
  Update u;
  u.Profile_Write_String(section, key, value);
  Apply(u);
}
void ProfileFile::Profile_Write_Integer(std::string_view section, std::string_view key,
                                        std::int32_t value) {
  Profile_Write_String(section, key, std::to_string(value));
}
void ProfileFile::Profile_Write_Bool(std::string_view section, std::string_view key, bool value) {
  Profile_Write_String(section, key, value ? "1" : "0");
}

void ProfileFile::Apply(const Update& update) {
  if (update.empty()) return;
  // A write that would break the file is refused before anything, even the lock file, is made.
  for (const auto& w : update.writes()) {
    try {
      Profile_Validate(w);
    } catch (const std::invalid_argument&) {
      throw EProfileError(path_, EINVAL);
    }
  }
  Apply_To_File(path_, [&](const std::string*) { return update.writes(); });
}

void ProfileFile::Apply(const std::function<Update(const Snapshot& current)>& build) {
  Apply_To_File(path_, [&](const std::string* current) {
    Snapshot snapshot;
    if (current) snapshot.parsed_ = std::make_shared<const ProfileText>(*current);
    return build(snapshot).writes();
  });
}

void ProfileFile::Set_Cache_Enabled(bool enabled) {
  Cache& cache = The_Cache();
  std::lock_guard lock(cache.mutex);
  cache.enabled = enabled;
  if (!enabled) cache.entries.clear();
}

void ProfileFile::Clear_Cache() {
  Cache& cache = The_Cache();
  std::lock_guard lock(cache.mutex);
  cache.entries.clear();
}
