#include "disc/Profile.h"

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
#include <unordered_map>
#include <utility>

namespace {

constexpr std::size_t kMaxValue = 1023;  // a 1024-byte buffer that includes the terminator
constexpr std::string_view kTempInfix = ".zarncd-";

// ---------------------------------------------------------------------------------------------
// Bytes

bool IsBlank(unsigned char c) {
  return c == ' ' || c == '\t' || c == '\n' || c == '\v' || c == '\f' || c == '\r' || c == 0x1A;
}
bool IsLead(unsigned char c) {
  return (c >= 0x81 && c <= 0x9F) || (c >= 0xE0 && c <= 0xFC);
}
bool IsTrail(unsigned char c) {
  return (c >= 0x40 && c <= 0x7E) || (c >= 0x80 && c <= 0xFC);
}
// Length of the character at i: 2 for a lead byte followed by a trail byte, else 1.
std::size_t CharLen(std::string_view s, std::size_t i) {
  return (IsLead(static_cast<unsigned char>(s[i])) && i + 1 < s.size() &&
          IsTrail(static_cast<unsigned char>(s[i + 1])))
             ? 2
             : 1;
}
unsigned char LowerAscii(unsigned char c) {
  return (c >= 'A' && c <= 'Z') ? c + 32 : c;
}

std::string_view Trim(std::string_view s) {
  std::size_t b = 0, e = s.size();
  while (b < e && IsBlank(static_cast<unsigned char>(s[b]))) ++b;
  while (e > b && IsBlank(static_cast<unsigned char>(s[e - 1]))) --e;
  return s.substr(b, e - b);
}

// Lower-cases ASCII letters outside double-byte characters.
std::string Fold(std::string_view s) {
  std::string out(s);
  for (std::size_t i = 0; i < out.size();) {
    std::size_t n = CharLen(out, i);
    if (n == 1) out[i] = static_cast<char>(LowerAscii(static_cast<unsigned char>(out[i])));
    i += n;
  }
  return out;
}

bool NamesEqual(std::string_view a, std::string_view b) {
  if (a.size() != b.size()) return false;
  for (std::size_t i = 0; i < a.size();) {
    std::size_t n = CharLen(a, i);
    if (n == 2) {
      if (a[i] != b[i] || a[i + 1] != b[i + 1]) return false;
    } else if (LowerAscii(static_cast<unsigned char>(a[i])) !=
               LowerAscii(static_cast<unsigned char>(b[i]))) {
      return false;
    }
    i += n;
  }
  return true;
}

// At most kMaxValue bytes, never splitting a double-byte character.
std::string_view Cut(std::string_view s) {
  if (s.size() <= kMaxValue) return s;
  std::size_t i = 0;
  while (i < s.size()) {
    std::size_t n = CharLen(s, i);
    if (i + n > kMaxValue) break;
    i += n;
  }
  return s.substr(0, i);
}

// What a read returns for a stored value (already without surrounding blanks).
std::string_view Unquote(std::string_view v) {
  if (v.size() >= 2 && (v.front() == '"' || v.front() == '\'') && v.back() == v.front())
    return v.substr(1, v.size() - 2);
  return v;
}
std::string_view ReadResult(std::string_view stored) {
  return Cut(Unquote(stored));
}

std::string DefaultResult(std::string_view def) {
  while (!def.empty() && def.back() == ' ') def.remove_suffix(1);
  return std::string(Cut(def));
}

// ---------------------------------------------------------------------------------------------
// Lines

struct Line {
  std::size_t start = 0, contentEnd = 0, end = 0;  // end is past the line end
  bool hasEnd() const { return end > contentEnd; }
};

// The line starting at pos (pos < text.size()).
Line LineAt(std::string_view text, std::size_t pos) {
  Line l;
  l.start = pos;
  std::size_t i = pos;
  const std::size_t n = text.size();
  while (i < n && text[i] != '\n' && text[i] != '\r') ++i;
  l.contentEnd = i;
  if (i < n) {
    if (text[i] == '\r' && i + 1 < n && text[i + 1] == '\n')
      i += 2;
    else
      ++i;
  }
  l.end = i;
  return l;
}

enum class Kind { Other, Header, Comment, Key };
struct Classified {
  Kind kind = Kind::Other;
  std::string_view name;   // section or key name, trimmed
  std::string_view value;  // key value, trimmed
  std::size_t eq = 0;      // offset of "=" within the line content
};

Classified Classify(std::string_view content) {
  Classified c;
  std::size_t i = 0;
  while (i < content.size() && IsBlank(static_cast<unsigned char>(content[i]))) ++i;
  if (i == content.size()) return c;
  if (content[i] == ';') {
    c.kind = Kind::Comment;
    return c;
  }
  if (content[i] == '[') {
    std::size_t close = std::string_view::npos;
    for (std::size_t j = i + 1; j < content.size();) {
      std::size_t n = CharLen(content, j);
      if (n == 1 && content[j] == ']') close = j;
      j += n;
    }
    if (close != std::string_view::npos) {
      c.kind = Kind::Header;
      c.name = Trim(content.substr(i + 1, close - i - 1));
      return c;
    }
  }
  std::size_t eq = content.find('=', i);
  if (eq == std::string_view::npos) return c;
  c.kind = Kind::Key;
  c.eq = eq;
  c.name = Trim(content.substr(i, eq - i));
  c.value = Trim(content.substr(eq + 1));
  return c;
}

struct Range {
  std::size_t start, end;  // the header line's start; the start of the next header, or EOF
};

// Calls f(name, lineStart) for each section header in order, until f returns false.
template <typename F>
void ForEachHeader(std::string_view text, F f) {
  for (std::size_t pos = 0; pos < text.size();) {
    Line l = LineAt(text, pos);
    // Cheap pre-test: only lines whose first non-blank byte is "[" can be headers.
    std::size_t i = l.start;
    while (i < l.contentEnd && IsBlank(static_cast<unsigned char>(text[i]))) ++i;
    if (i < l.contentEnd && text[i] == '[') {
      Classified c = Classify(text.substr(l.start, l.contentEnd - l.start));
      if (c.kind == Kind::Header && !f(c.name, l.start)) return;
    }
    pos = l.end;
  }
}

// First occurrence of each section, by folded name.
std::unordered_map<std::string, Range> IndexSections(std::string_view text) {
  std::unordered_map<std::string, Range> index;
  Range* open = nullptr;
  ForEachHeader(text, [&](std::string_view name, std::size_t start) {
    if (open) open->end = start;
    open = nullptr;
    auto [it, inserted] = index.try_emplace(Fold(name), Range{start, text.size()});
    if (inserted) open = &it->second;
    return true;
  });
  return index;
}

// The first section of each of a few names, found in one pass without building an index.
std::vector<std::optional<Range>> FindSections(std::string_view text,
                                               const std::vector<std::string_view>& names) {
  std::vector<std::optional<Range>> found(names.size());
  std::optional<Range>* open = nullptr;
  std::size_t missing = names.size();
  ForEachHeader(text, [&](std::string_view name, std::size_t start) {
    if (open) (*open)->end = start;
    open = nullptr;
    if (missing == 0) return false;
    for (std::size_t n = 0; n < names.size(); ++n) {
      if (!found[n] && NamesEqual(name, names[n])) {
        found[n] = Range{start, text.size()};
        open = &found[n];
        --missing;
        break;
      }
    }
    return true;
  });
  return found;
}

// Finds the key in the section text [r.start, r.end) (whose first line is the header).
std::optional<std::string_view> FindInSection(std::string_view text, Range r,
                                              std::string_view key) {
  std::size_t pos = LineAt(text, r.start).end;
  while (pos < r.end) {
    Line l = LineAt(text, pos);
    Classified c = Classify(text.substr(l.start, l.contentEnd - l.start));
    if (c.kind == Kind::Key && NamesEqual(c.name, key)) return c.value;
    pos = l.end;
  }
  return std::nullopt;
}

// A line about to be written must read back as a key of that name: "[x" with the value "]"
// would otherwise turn into a section header.
void RequireKeyLine(std::string_view line, std::string_view name) {
  Classified c = Classify(line);
  if (c.kind != Kind::Key || c.name != name)
    throw std::invalid_argument("profile: the key's line would not read back as that key");
}

// Applies one write to a section's text (header line first).
void WriteInSection(std::string& sec, std::string_view key, std::string_view value) {
  std::size_t insertAt = 0;
  bool insertNeedsEnd = false;
  Line header = LineAt(sec, 0);
  insertAt = header.end;
  insertNeedsEnd = !header.hasEnd();
  for (std::size_t pos = header.end; pos < sec.size();) {
    Line l = LineAt(sec, pos);
    std::string_view content(sec.data() + l.start, l.contentEnd - l.start);
    Classified c = Classify(content);
    if (c.kind == Kind::Key) {
      if (NamesEqual(c.name, key)) {
        if (ReadResult(c.value) == value) return;  // already reads so: keep the line as it is
        // The blanks between "=" and the old value stay, unless the new value brings its own;
        // the old value and what follows it go.
        std::size_t from = l.start + c.eq + 1;
        if (!c.value.empty() && !value.empty() && !IsBlank(static_cast<unsigned char>(value[0])))
          from = l.start + static_cast<std::size_t>(c.value.data() - content.data());
        std::string line = sec.substr(l.start, from - l.start);
        line.append(value);
        RequireKeyLine(line, c.name);
        sec.replace(from, l.contentEnd - from, value);
        return;
      }
      insertAt = l.end;
      insertNeedsEnd = !l.hasEnd();
    }
    pos = l.end;
  }
  std::string line(key);
  line.append("=").append(value);
  RequireKeyLine(line, key);
  line.append("\r\n");
  if (insertNeedsEnd) line.insert(0, "\r\n");
  sec.insert(insertAt, line);
}

bool HasAny(std::string_view s, std::string_view bytes) {
  return s.find_first_of(bytes) != std::string_view::npos;
}
const std::string_view kLineBreaking("\r\n\0", 3);

// A name is refused when the line written for it would not read back as that name: a header
// whose bracket a trailing lead byte swallows, a key that would be a comment or a header.
void Validate(const ProfileFile::Update::Write& w) {
  if (HasAny(w.section, kLineBreaking) || HasAny(w.key, kLineBreaking) ||
      HasAny(w.value, kLineBreaking))
    throw std::invalid_argument("profile: line end or NUL in a name or value");
  const std::string_view section = Trim(w.section), key = Trim(w.key);
  std::string header("[");
  header.append(section).append("]");
  Classified h = Classify(header);
  if (h.kind != Kind::Header || h.name != section)
    throw std::invalid_argument("profile: section name cannot be written");
  const std::string line = std::string(key) + "=x";
  Classified k = Classify(line);
  if (k.kind != Kind::Key || k.name != key)
    throw std::invalid_argument("profile: key name cannot be written");
}

}  // namespace

// -----------------------------------------------------------------------------------------------
// Errors and conversion

EProfileError::EProfileError(const std::string& path, int error)
    : std::runtime_error(path + " に書き込めません"), path_(path), error_(error) {}

std::optional<std::int32_t> Profile_Str_To_Int(std::string_view s) {
  std::size_t i = 0;
  while (i < s.size() && s[i] == ' ') ++i;
  if (i == s.size()) return std::nullopt;
  if (s[i] == '$') {
    ++i;
    if (i == s.size()) return std::nullopt;
    std::uint64_t v = 0;
    for (; i < s.size(); ++i) {
      char c = s[i];
      unsigned d;
      if (c >= '0' && c <= '9')
        d = c - '0';
      else if (c >= 'a' && c <= 'f')
        d = c - 'a' + 10;
      else if (c >= 'A' && c <= 'F')
        d = c - 'A' + 10;
      else
        return std::nullopt;
      v = v * 16 + d;
      if (v > 0xFFFFFFFFull) return std::nullopt;
    }
    return static_cast<std::int32_t>(static_cast<std::uint32_t>(v));
  }
  bool negative = false;
  if (s[i] == '+' || s[i] == '-') {
    negative = s[i] == '-';
    ++i;
  }
  if (i == s.size()) return std::nullopt;
  std::uint64_t v = 0;
  const std::uint64_t limit = negative ? 2147483648ull : 2147483647ull;
  for (; i < s.size(); ++i) {
    char c = s[i];
    if (c < '0' || c > '9') return std::nullopt;
    v = v * 10 + static_cast<unsigned>(c - '0');
    if (v > limit) return std::nullopt;
  }
  return negative ? static_cast<std::int32_t>(-static_cast<std::int64_t>(v))
                  : static_cast<std::int32_t>(v);
}

namespace {

std::int32_t IntegerFromText(std::string text, std::int32_t def) {
  if (text.size() > 2 && text[0] == '0' && (text[1] == 'x' || text[1] == 'X'))
    text.replace(0, 2, "$");
  return Profile_Str_To_Int(text).value_or(def);
}

}  // namespace

// -----------------------------------------------------------------------------------------------
// Pure text operations

std::optional<std::string> Profile_Text_Read(std::string_view text, std::string_view section,
                                             std::string_view key) {
  section = Trim(section);
  key = Trim(key);
  for (std::size_t pos = 0; pos < text.size();) {
    Line l = LineAt(text, pos);
    Classified c = Classify(text.substr(l.start, l.contentEnd - l.start));
    if (c.kind == Kind::Header && NamesEqual(c.name, section)) {
      // The first section of that name; stop at the next header.
      for (pos = l.end; pos < text.size();) {
        Line k = LineAt(text, pos);
        Classified d = Classify(text.substr(k.start, k.contentEnd - k.start));
        if (d.kind == Kind::Header) break;
        if (d.kind == Kind::Key && NamesEqual(d.name, key)) return std::string(ReadResult(d.value));
        pos = k.end;
      }
      return std::nullopt;
    }
    pos = l.end;
  }
  return std::nullopt;
}

std::string Profile_Text_Apply(std::string_view text,
                               const std::vector<ProfileFile::Update::Write>& writes) {
  for (const auto& w : writes) Validate(w);
  // Group the writes by section, in order of first appearance; within a section they apply in
  // order. This gives the same bytes as applying them one by one.
  struct Group {
    std::string name;  // trimmed, as first written
    std::vector<const ProfileFile::Update::Write*> writes;
  };
  std::vector<Group> groups;
  std::unordered_map<std::string, std::size_t> byName;
  for (const auto& w : writes) {
    std::string_view name = Trim(w.section);
    auto [it, inserted] = byName.try_emplace(Fold(name), groups.size());
    if (inserted) groups.push_back({std::string(name), {}});
    groups[it->second].writes.push_back(&w);
  }
  std::vector<std::string_view> names;
  for (const auto& g : groups) names.push_back(g.name);
  const auto found = FindSections(text, names);
  struct Splice {
    Range range;
    std::string text;
  };
  std::vector<Splice> splices;
  std::string appended;
  for (std::size_t n = 0; n < groups.size(); ++n) {
    const auto& range = found[n];
    std::string sec;
    if (range)
      sec.assign(text.substr(range->start, range->end - range->start));
    else
      sec.append("[").append(groups[n].name).append("]\r\n");
    for (const auto* w : groups[n].writes) WriteInSection(sec, Trim(w->key), w->value);
    if (range)
      splices.push_back({*range, std::move(sec)});
    else
      appended += sec;
  }
  std::sort(splices.begin(), splices.end(),
            [](const Splice& a, const Splice& b) { return a.range.start < b.range.start; });
  std::string out;
  out.reserve(text.size() + 256);
  std::size_t pos = 0;
  for (const auto& s : splices) {
    out.append(text.substr(pos, s.range.start - pos));
    out += s.text;
    pos = s.range.end;
  }
  out.append(text.substr(pos));
  if (!appended.empty()) {
    if (!out.empty() && out.back() != '\n' && out.back() != '\r') out += "\r\n";
    out += appended;
  }
  return out;
}

// -----------------------------------------------------------------------------------------------
// Parsed files and the cache

namespace profile_detail {
struct Parsed {
  std::string text;
  std::unordered_map<std::string, Range> sections;

  std::optional<std::string_view> Find(std::string_view section, std::string_view key) const {
    auto it = sections.find(Fold(Trim(section)));
    if (it == sections.end()) return std::nullopt;
    return FindInSection(text, it->second, Trim(key));
  }
};
}  // namespace profile_detail

namespace {

using profile_detail::Parsed;

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
StatKey KeyOf(const struct stat& st) {
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
  std::shared_ptr<const Parsed> parsed;
  std::uint64_t used = 0;
};

struct Cache {
  std::mutex mutex;
  bool enabled = true;
  std::vector<CacheEntry> entries;  // a handful of files at most
  std::uint64_t clock = 0;
  static constexpr std::size_t kMaxEntries = 8;
};
Cache& TheCache() {
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
int NotRegularError(mode_t mode) {
  return S_ISDIR(mode) ? EISDIR : EINVAL;
}

// Every open of a profile: O_NONBLOCK so that a FIFO or a device put in the file's place cannot
// block the program (cleared again once fstat has shown a regular file), no controlling terminal.
constexpr int kOpenFlags = O_CLOEXEC | O_NONBLOCK | O_NOCTTY;

// After a successful fstat: fails with the reason unless fd is a regular file, and makes its
// reads and writes blocking again.
bool KeepRegular(int fd, const struct stat& st) {
  if (!S_ISREG(st.st_mode)) {
    errno = NotRegularError(st.st_mode);
    return false;
  }
  const int flags = ::fcntl(fd, F_GETFL);
  return flags >= 0 && ::fcntl(fd, F_SETFL, flags & ~O_NONBLOCK) == 0;
}

// Reads fd from its current offset to its end.
bool ReadAll(int fd, std::string& out, std::size_t expected) {
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

ReadStatus ReadWholeFile(const std::string& path, std::string& out, struct stat& st) {
  // Something that is not a regular file is not even opened (opening a device can act on it).
  if (::stat(path.c_str(), &st) == 0 && !S_ISREG(st.st_mode)) {
    errno = NotRegularError(st.st_mode);
    return ReadStatus::Failed;
  }
  Fd fd(::open(path.c_str(), O_RDONLY | kOpenFlags));
  if (fd.get() < 0)
    return errno == ENOENT || errno == ENOTDIR ? ReadStatus::Missing : ReadStatus::Failed;
  if (::fstat(fd.get(), &st) != 0 || !KeepRegular(fd.get(), st)) return ReadStatus::Failed;
  if (!ReadAll(fd.get(), out, static_cast<std::size_t>(st.st_size))) return ReadStatus::Failed;
  return ReadStatus::Ok;
}

std::shared_ptr<const Parsed> Load(const std::string& path) {
  Cache& cache = TheCache();
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
    StatKey key = KeyOf(st);
    std::lock_guard lock(cache.mutex);
    for (auto& e : cache.entries) {
      if (e.path == path && e.key == key && Trusted(e.key, start)) {
        e.used = ++cache.clock;
        return e.parsed;
      }
    }
  }
  auto parsed = std::make_shared<Parsed>();
  struct stat st {};
  ::clock_gettime(CLOCK_REALTIME, &start);
  if (ReadWholeFile(path, parsed->text, st) != ReadStatus::Ok) return nullptr;
  parsed->sections = IndexSections(parsed->text);
  StatKey key = KeyOf(st);
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
  Cache& cache = TheCache();
  std::lock_guard lock(cache.mutex);
  cache.entries.erase(std::remove_if(cache.entries.begin(), cache.entries.end(),
                                     [&](const CacheEntry& e) { return e.path == path; }),
                      cache.entries.end());
}

// -----------------------------------------------------------------------------------------------
// Writing

std::string DirName(const std::string& p) {
  auto slash = p.rfind('/');
  if (slash == std::string::npos) return ".";
  if (slash == 0) return "/";
  return p.substr(0, slash);
}
std::string BaseName(const std::string& p) {
  auto slash = p.rfind('/');
  return slash == std::string::npos ? p : p.substr(slash + 1);
}

// Follows symbolic links to the file that is to be replaced (which may not exist yet). What is
// there must be a regular file: nothing is done beside anything else, not even its lock file.
std::string ResolveTarget(const std::string& path) {
  std::string p = path;
  for (int hops = 0; hops < 40; ++hops) {
    struct stat st {};
    if (::lstat(p.c_str(), &st) != 0) {
      if (errno == ENOENT) return p;
      throw EProfileError(path, errno);
    }
    if (!S_ISLNK(st.st_mode)) {
      if (!S_ISREG(st.st_mode)) throw EProfileError(path, NotRegularError(st.st_mode));
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
    p = (!target.empty() && target[0] == '/') ? target : DirName(p) + "/" + target;
  }
  throw EProfileError(path, ELOOP);
}

void LockExclusive(int fd, const std::string& path) {
  while (::flock(fd, LOCK_EX) != 0) {
    if (errno != EINTR) throw EProfileError(path, errno);
  }
}

// Opens "<target>.lock", creating it when missing. An invalid Fd, with the folder's reason in
// `refused`, when the folder refuses to create it and there is none (or none this user may
// open): the lock on the file itself must then do.
Fd OpenLockFile(const std::string& target, const std::string& path, int& refused) {
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
  if (::fstat(fd.get(), &st) != 0 || !KeepRegular(fd.get(), st)) throw EProfileError(path, errno);
  return fd;
}

// Opens the existing target for reading and writing and locks it. A writer that held the lock
// before may have replaced the file meanwhile, so the lock counts only while the locked file is
// still the one at the path; otherwise the file now there is locked instead. An invalid Fd when
// there is no file.
Fd OpenAndLockTarget(const std::string& target, const std::string& path, struct stat& st) {
  for (int attempt = 0;; ++attempt) {
    Fd fd(::open(target.c_str(), O_RDWR | kOpenFlags));
    if (fd.get() < 0) {
      if (errno == ENOENT) return Fd();
      throw EProfileError(path, errno);  // a read-only file is not replaced either
    }
    if (::fstat(fd.get(), &st) != 0 || !KeepRegular(fd.get(), st)) throw EProfileError(path, errno);
    LockExclusive(fd.get(), path);
    struct stat now {};
    if (::stat(target.c_str(), &now) == 0 && now.st_dev == st.st_dev && now.st_ino == st.st_ino) {
      if (::fstat(fd.get(), &st) != 0) throw EProfileError(path, errno);
      return fd;
    }
    if (attempt >= 1000) throw EProfileError(path, EAGAIN);
  }
}

// Removes temporary files that a killed writer left; called with the lock file held.
void RemoveStaleTemps(const std::string& dir, const std::string& base) {
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

std::string RandomSuffix() {
  static thread_local std::mt19937_64 rng{std::random_device{}() ^
                                          (static_cast<std::uint64_t>(::getpid()) << 32)};
  static constexpr char kChars[] = "abcdefghijklmnopqrstuvwxyzABCDEFGHIJKLMNOPQRSTUVWXYZ0123456789";
  std::string s(6, 'x');
  for (auto& c : s) c = kChars[rng() % (sizeof(kChars) - 1)];
  return s;
}

bool WriteAll(int fd, std::string_view data) {
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
void WriteInPlace(int fd, const std::string& old, const std::string& updated,
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
using BuildWrites =
    std::function<std::vector<ProfileFile::Update::Write>(const std::string* current)>;

void ApplyToFile(const std::string& path, const BuildWrites& build) {
  const std::string target = ResolveTarget(path);
  const std::string dir = DirName(target), base = BaseName(target);

  // Two locks, always taken in this order: the lock file, which also serialises the creation of
  // a missing file, and the file itself, which stands in for the lock file where the folder
  // refuses one and which orders every replacement of the file against an in-place write.
  int lockRefused = 0;
  Fd lock = OpenLockFile(target, path, lockRefused);
  if (lock.get() >= 0) LockExclusive(lock.get(), path);
  struct stat st {};
  Fd file = OpenAndLockTarget(target, path, st);
  const bool exists = file.get() >= 0;
  if (lock.get() < 0 && !exists) throw EProfileError(path, lockRefused);  // cannot create it
  if (lock.get() >= 0) RemoveStaleTemps(dir, base);

  std::string old;
  if (exists && !ReadAll(file.get(), old, static_cast<std::size_t>(st.st_size)))
    throw EProfileError(path, errno);

  std::string updated;
  try {
    const std::vector<ProfileFile::Update::Write> writes = build(exists ? &old : nullptr);
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
    temp = dir + "/." + base + std::string(kTempInfix) + RandomSuffix();
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
    WriteInPlace(file.get(), old, updated, path);
  } else {
    if (exists && ::fchmod(out.get(), st.st_mode & 07777) != 0) fail(errno);
    if (!WriteAll(out.get(), updated)) fail(errno);
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
    if (auto v = parsed_->Find(section, key)) return std::string(ReadResult(*v));
  }
  return DefaultResult(def);
}
std::int32_t ProfileFile::Snapshot::Profile_Read_Integer(std::string_view section,
                                                         std::string_view key,
                                                         std::int32_t def) const {
  return IntegerFromText(Profile_Read_String(section, key, ""), def);
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
      Validate(w);
    } catch (const std::invalid_argument&) {
      throw EProfileError(path_, EINVAL);
    }
  }
  ApplyToFile(path_, [&](const std::string*) { return update.writes(); });
}

void ProfileFile::Apply(const std::function<Update(const Snapshot& current)>& build) {
  ApplyToFile(path_, [&](const std::string* current) {
    Snapshot snapshot;
    if (current) {
      auto parsed = std::make_shared<Parsed>();
      parsed->text = *current;
      parsed->sections = IndexSections(parsed->text);
      snapshot.parsed_ = std::move(parsed);
    }
    return build(snapshot).writes();
  });
}

void ProfileFile::Set_Cache_Enabled(bool enabled) {
  Cache& cache = TheCache();
  std::lock_guard lock(cache.mutex);
  cache.enabled = enabled;
  if (!enabled) cache.entries.clear();
}

void ProfileFile::Clear_Cache() {
  Cache& cache = TheCache();
  std::lock_guard lock(cache.mutex);
  cache.entries.clear();
}
