#include "profile/ProfileText.h"

#include <algorithm>
#include <stdexcept>
#include <unordered_map>
#include <utility>

namespace {

constexpr std::size_t kMaxValue = 1023;  // a 1024-byte buffer that includes the terminator

// ---------------------------------------------------------------------------------------------
// Bytes

bool Is_Blank(unsigned char c) {
  return c == ' ' || c == '\t' || c == '\n' || c == '\v' || c == '\f' || c == '\r' || c == 0x1A;
}
bool Is_Lead(unsigned char c) {
  return (c >= 0x81 && c <= 0x9F) || (c >= 0xE0 && c <= 0xFC);
}
bool Is_Trail(unsigned char c) {
  return (c >= 0x40 && c <= 0x7E) || (c >= 0x80 && c <= 0xFC);
}
// Length of the character at i: 2 for a lead byte followed by a trail byte, else 1.
std::size_t Char_Len(std::string_view s, std::size_t i) {
  return (Is_Lead(static_cast<unsigned char>(s[i])) && i + 1 < s.size() &&
          Is_Trail(static_cast<unsigned char>(s[i + 1])))
             ? 2
             : 1;
}
unsigned char Lower_Ascii(unsigned char c) {
  return (c >= 'A' && c <= 'Z') ? c + 32 : c;
}

std::string_view Trim(std::string_view s) {
  std::size_t b = 0, e = s.size();
  while (b < e && Is_Blank(static_cast<unsigned char>(s[b]))) ++b;
  while (e > b && Is_Blank(static_cast<unsigned char>(s[e - 1]))) --e;
  return s.substr(b, e - b);
}

// Lower-cases ASCII letters outside double-byte characters.
std::string Fold(std::string_view s) {
  std::string out(s);
  for (std::size_t i = 0; i < out.size();) {
    std::size_t n = Char_Len(out, i);
    if (n == 1) out[i] = static_cast<char>(Lower_Ascii(static_cast<unsigned char>(out[i])));
    i += n;
  }
  return out;
}

bool Names_Equal(std::string_view a, std::string_view b) {
  if (a.size() != b.size()) return false;
  for (std::size_t i = 0; i < a.size();) {
    std::size_t n = Char_Len(a, i);
    if (n == 2) {
      if (a[i] != b[i] || a[i + 1] != b[i + 1]) return false;
    } else if (Lower_Ascii(static_cast<unsigned char>(a[i])) !=
               Lower_Ascii(static_cast<unsigned char>(b[i]))) {
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
    std::size_t n = Char_Len(s, i);
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
std::string_view Read_Result(std::string_view stored) {
  return Cut(Unquote(stored));
}

std::string Default_Result(std::string_view def) {
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
Line Line_At(std::string_view text, std::size_t pos) {
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
  while (i < content.size() && Is_Blank(static_cast<unsigned char>(content[i]))) ++i;
  if (i == content.size()) return c;
  if (content[i] == ';') {
    c.kind = Kind::Comment;
    return c;
  }
  if (content[i] == '[') {
    std::size_t close = std::string_view::npos;
    for (std::size_t j = i + 1; j < content.size();) {
      std::size_t n = Char_Len(content, j);
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
void For_Each_Header(std::string_view text, F f) {
  for (std::size_t pos = 0; pos < text.size();) {
    Line l = Line_At(text, pos);
    // Cheap pre-test: only lines whose first non-blank byte is "[" can be headers.
    std::size_t i = l.start;
    while (i < l.contentEnd && Is_Blank(static_cast<unsigned char>(text[i]))) ++i;
    if (i < l.contentEnd && text[i] == '[') {
      Classified c = Classify(text.substr(l.start, l.contentEnd - l.start));
      if (c.kind == Kind::Header && !f(c.name, l.start)) return;
    }
    pos = l.end;
  }
}

// First occurrence of each section, by folded name.
std::unordered_map<std::string, Range> Index_Sections(std::string_view text) {
  std::unordered_map<std::string, Range> index;
  Range* open = nullptr;
  For_Each_Header(text, [&](std::string_view name, std::size_t start) {
    if (open) open->end = start;
    open = nullptr;
    auto [it, inserted] = index.try_emplace(Fold(name), Range{start, text.size()});
    if (inserted) open = &it->second;
    return true;
  });
  return index;
}

// The first section of each of a few names, found in one pass without building an index.
std::vector<std::optional<Range>> Find_Sections(std::string_view text,
                                                const std::vector<std::string_view>& names) {
  std::vector<std::optional<Range>> found(names.size());
  std::optional<Range>* open = nullptr;
  std::size_t missing = names.size();
  For_Each_Header(text, [&](std::string_view name, std::size_t start) {
    if (open) (*open)->end = start;
    open = nullptr;
    if (missing == 0) return false;
    for (std::size_t n = 0; n < names.size(); ++n) {
      if (!found[n] && Names_Equal(name, names[n])) {
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
std::optional<std::string_view> Find_In_Section(std::string_view text, Range r,
                                                std::string_view key) {
  std::size_t pos = Line_At(text, r.start).end;
  while (pos < r.end) {
    Line l = Line_At(text, pos);
    Classified c = Classify(text.substr(l.start, l.contentEnd - l.start));
    if (c.kind == Kind::Key && Names_Equal(c.name, key)) return c.value;
    pos = l.end;
  }
  return std::nullopt;
}

// A line about to be written must read back as a key of that name: "[x" with the value "]"
// would otherwise turn into a section header.
void Require_Key_Line(std::string_view line, std::string_view name) {
  Classified c = Classify(line);
  if (c.kind != Kind::Key || c.name != name)
    throw std::invalid_argument("profile: the key's line would not read back as that key");
}

// Applies one write to a section's text (header line first).
void Write_In_Section(std::string& sec, std::string_view key, std::string_view value) {
  std::size_t insertAt = 0;
  bool insertNeedsEnd = false;
  Line header = Line_At(sec, 0);
  insertAt = header.end;
  insertNeedsEnd = !header.hasEnd();
  for (std::size_t pos = header.end; pos < sec.size();) {
    Line l = Line_At(sec, pos);
    std::string_view content(sec.data() + l.start, l.contentEnd - l.start);
    Classified c = Classify(content);
    if (c.kind == Kind::Key) {
      if (Names_Equal(c.name, key)) {
        if (Read_Result(c.value) == value) return;  // already reads so: keep the line as it is
        // The blanks between "=" and the old value stay, unless the new value brings its own;
        // the old value and what follows it go.
        std::size_t from = l.start + c.eq + 1;
        if (!c.value.empty() && !value.empty() && !Is_Blank(static_cast<unsigned char>(value[0])))
          from = l.start + static_cast<std::size_t>(c.value.data() - content.data());
        std::string line = sec.substr(l.start, from - l.start);
        line.append(value);
        Require_Key_Line(line, c.name);
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
  Require_Key_Line(line, key);
  line.append("\r\n");
  if (insertNeedsEnd) line.insert(0, "\r\n");
  sec.insert(insertAt, line);
}

bool Has_Any(std::string_view s, std::string_view bytes) {
  return s.find_first_of(bytes) != std::string_view::npos;
}
const std::string_view kLineBreaking("\r\n\0", 3);

// A name is refused when the line written for it would not read back as that name: a header
// whose bracket a trailing lead byte swallows, a key that would be a comment or a header.
void Validate(const ProfileWrite& w) {
  if (Has_Any(w.section, kLineBreaking) || Has_Any(w.key, kLineBreaking) ||
      Has_Any(w.value, kLineBreaking))
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
// Integers

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

std::int32_t Profile_Integer_From_Text(std::string text, std::int32_t def) {
  if (text.size() > 2 && text[0] == '0' && (text[1] == 'x' || text[1] == 'X'))
    text.replace(0, 2, "$");
  return Profile_Str_To_Int(text).value_or(def);
}

// -----------------------------------------------------------------------------------------------
// Pure text operations

std::optional<std::string> Profile_Text_Read(std::string_view text, std::string_view section,
                                             std::string_view key) {
  section = Trim(section);
  key = Trim(key);
  for (std::size_t pos = 0; pos < text.size();) {
    Line l = Line_At(text, pos);
    Classified c = Classify(text.substr(l.start, l.contentEnd - l.start));
    if (c.kind == Kind::Header && Names_Equal(c.name, section)) {
      // The first section of that name; stop at the next header.
      for (pos = l.end; pos < text.size();) {
        Line k = Line_At(text, pos);
        Classified d = Classify(text.substr(k.start, k.contentEnd - k.start));
        if (d.kind == Kind::Header) break;
        if (d.kind == Kind::Key && Names_Equal(d.name, key))
          return std::string(Read_Result(d.value));
        pos = k.end;
      }
      return std::nullopt;
    }
    pos = l.end;
  }
  return std::nullopt;
}

std::string Profile_Text_Apply(std::string_view text, const std::vector<ProfileWrite>& writes) {
  for (const auto& w : writes) Validate(w);
  // Group the writes by section, in order of first appearance; within a section they apply in
  // order. This gives the same bytes as applying them one by one.
  struct Group {
    std::string name;  // trimmed, as first written
    std::vector<const ProfileWrite*> writes;
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
  const auto found = Find_Sections(text, names);
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
    for (const auto* w : groups[n].writes) Write_In_Section(sec, Trim(w->key), w->value);
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
// A parsed file

ProfileText::ProfileText(std::string text) : text_(std::move(text)) {
  for (const auto& [name, range] : Index_Sections(text_))
    sections_.emplace(name, std::pair{range.start, range.end});
}

std::optional<std::string> ProfileText::Read(std::string_view section, std::string_view key) const {
  auto it = sections_.find(Fold(Trim(section)));
  if (it == sections_.end()) return std::nullopt;
  if (auto v = Find_In_Section(text_, Range{it->second.first, it->second.second}, Trim(key)))
    return std::string(Read_Result(*v));
  return std::nullopt;
}

std::string Profile_Default_Result(std::string_view def) {
  return Default_Result(def);
}

void Profile_Validate(const ProfileWrite& write) {
  Validate(write);
}
