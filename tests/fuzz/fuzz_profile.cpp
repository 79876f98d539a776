// Fuzz target for the profile reader and writer (src/profile/ProfileText.cpp), on bytes in memory.
//
// Input: section NUL key NUL value NUL other-section NUL other-key NUL file-text (missing parts
// are empty). Checks, beyond the sanitizers:
//  - a read returns at most 1023 bytes;
//  - after writing the value, the key reads as the value does (without surrounding blanks and
//    one pair of quotes, cut at 1023 bytes), or exactly as the value when the key already read so;
//  - every other key reads as before the write;
//  - writing the same value again changes nothing;
//  - Profile_Str_To_Int agrees with a reference built on std::from_chars.
#include <cctype>
#include <charconv>
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <optional>
#include <stdexcept>
#include <string>
#include <string_view>
#include <vector>

#include "profile/ProfileText.h"

namespace {

void Check(bool ok) {
  if (!ok) std::abort();
}

bool IsBlank(unsigned char c) {
  return c == ' ' || c == '\t' || c == '\n' || c == '\v' || c == '\f' || c == '\r' || c == 0x1A;
}
std::string_view Trim(std::string_view s) {
  while (!s.empty() && IsBlank(static_cast<unsigned char>(s.front()))) s.remove_prefix(1);
  while (!s.empty() && IsBlank(static_cast<unsigned char>(s.back()))) s.remove_suffix(1);
  return s;
}
bool IsLead(unsigned char c) {
  return (c >= 0x81 && c <= 0x9F) || (c >= 0xE0 && c <= 0xFC);
}
bool IsTrail(unsigned char c) {
  return (c >= 0x40 && c <= 0x7E) || (c >= 0x80 && c <= 0xFC);
}

// What reading a stored value gives, written independently of Profile.cpp.
std::string Expected(std::string_view value) {
  std::string_view v = Trim(value);
  if (v.size() >= 2 && (v.front() == '"' || v.front() == '\'') && v.back() == v.front())
    v = v.substr(1, v.size() - 2);
  if (v.size() <= 1023) return std::string(v);
  std::size_t i = 0;
  while (i < v.size()) {
    std::size_t n = (IsLead(static_cast<unsigned char>(v[i])) && i + 1 < v.size() &&
                     IsTrail(static_cast<unsigned char>(v[i + 1])))
                        ? 2
                        : 1;
    if (i + n > 1023) break;
    i += n;
  }
  return std::string(v.substr(0, i));
}

std::string Fold(std::string_view s) {
  std::string out(Trim(s));
  for (std::size_t i = 0; i < out.size(); ++i) {
    auto c = static_cast<unsigned char>(out[i]);
    if (IsLead(c) && i + 1 < out.size() && IsTrail(static_cast<unsigned char>(out[i + 1]))) {
      ++i;
    } else if (c >= 'A' && c <= 'Z') {
      out[i] = static_cast<char>(c + 32);
    }
  }
  return out;
}

std::optional<std::int32_t> ReferenceStrToInt(std::string_view s) {
  while (!s.empty() && s.front() == ' ') s.remove_prefix(1);
  if (s.empty()) return std::nullopt;
  const char* end = s.data() + s.size();
  if (s.front() == '$') {
    s.remove_prefix(1);
    if (s.empty() || !std::isxdigit(static_cast<unsigned char>(s.front()))) return std::nullopt;
    std::uint32_t v = 0;
    auto r = std::from_chars(s.data(), end, v, 16);
    if (r.ec != std::errc() || r.ptr != end) return std::nullopt;
    return static_cast<std::int32_t>(v);
  }
  bool negative = false;
  if (s.front() == '+' || s.front() == '-') {
    negative = s.front() == '-';
    s.remove_prefix(1);
  }
  if (s.empty() || !std::isdigit(static_cast<unsigned char>(s.front()))) return std::nullopt;
  std::uint64_t v = 0;
  auto r = std::from_chars(s.data(), end, v, 10);
  if (r.ec != std::errc() || r.ptr != end) return std::nullopt;
  if (v > (negative ? 2147483648ull : 2147483647ull)) return std::nullopt;
  return static_cast<std::int32_t>(negative ? -static_cast<std::int64_t>(v)
                                            : static_cast<std::int64_t>(v));
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  std::string_view in(reinterpret_cast<const char*>(data), size);
  std::string_view part[5];
  for (auto& p : part) {
    std::size_t nul = in.find('\0');
    p = in.substr(0, nul);
    in = nul == std::string_view::npos ? std::string_view() : in.substr(nul + 1);
  }
  const std::string_view section = part[0], key = part[1], value = part[2];
  const std::string_view otherSection = part[3], otherKey = part[4], text = in;

  Check(Profile_Str_To_Int(value) == ReferenceStrToInt(value));

  auto before = Profile_Text_Read(text, section, key);
  if (before) Check(before->size() <= 1023);
  auto otherBefore = Profile_Text_Read(text, otherSection, otherKey);

  const std::vector<ProfileWrite> writes{
      {std::string(section), std::string(key), std::string(value)}};
  std::string after;
  try {
    after = Profile_Text_Apply(text, writes);
  } catch (const std::invalid_argument&) {
    return 0;  // a name or value that would break the file: refused
  }
  auto read = Profile_Text_Read(after, section, key);
  Check(read.has_value());
  Check(*read == ((before && *before == value) ? std::string(value) : Expected(value)));
  if (before && *before == value) Check(after == text);
  if (Fold(section) != Fold(otherSection) || Fold(key) != Fold(otherKey))
    Check(Profile_Text_Read(after, otherSection, otherKey) == otherBefore);
  Check(Profile_Text_Apply(after, writes) == after);
  return 0;
}
