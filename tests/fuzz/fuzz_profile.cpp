// Fuzz target for the profile reader and writer on bytes in memory. Input: section NUL key NUL
// value NUL other-section NUL other-key NUL file text. Beyond the sanitizers: the indexed and the
// plain reader agree; a written value reads back as reading it would give (exactly, when the key
// already read so); other keys read as before; writing it again changes nothing; and the string
// conversion agrees with std::from_chars.
#include <algorithm>
#include <cctype>
#include <charconv>
#include <stdexcept>
#include <cstdint>

#include "Check.h"
#include "profile/ProfileText.h"

namespace {

std::string_view Trim(std::string_view s) {
  constexpr std::string_view kBlanks(" \t\n\v\f\r\x1A");
  s.remove_prefix(std::min(s.find_first_not_of(kBlanks), s.size()));
  return s.substr(0, s.find_last_not_of(kBlanks) + 1);
}
// A lead byte of code page 932 and its trail: one character of two bytes.
bool IsPair(std::string_view s, std::size_t i) {
  const auto lead = static_cast<unsigned char>(s[i]);
  if (i + 1 >= s.size() || !((lead >= 0x81 && lead <= 0x9F) || (lead >= 0xE0 && lead <= 0xFC)))
    return false;
  const auto trail = static_cast<unsigned char>(s[i + 1]);
  return (trail >= 0x40 && trail <= 0x7E) || (trail >= 0x80 && trail <= 0xFC);
}

// What reading a stored value gives, written independently of Profile.cpp.
std::string Expected(std::string_view value) {
  std::string_view v = Trim(value);
  if (v.size() >= 2 && (v.front() == '"' || v.front() == '\'') && v.back() == v.front())
    v = v.substr(1, v.size() - 2);
  if (v.size() <= 1023) return std::string(v);
  std::size_t i = 0;
  while (i < v.size() && i + (IsPair(v, i) ? 2 : 1) <= 1023) i += IsPair(v, i) ? 2 : 1;
  return std::string(v.substr(0, i));
}

std::string Fold(std::string_view s) {
  std::string out(Trim(s));
  for (std::size_t i = 0; i < out.size(); i += IsPair(out, i) ? 2 : 1)
    if (out[i] >= 'A' && out[i] <= 'Z') out[i] = static_cast<char>(out[i] + 32);
  return out;
}

std::optional<std::int32_t> ReferenceStrToInt(std::string_view s) {
  s.remove_prefix(std::min(s.find_first_not_of(' '), s.size()));
  const bool hex = s.starts_with('$'), negative = s.starts_with('-');
  if (hex || negative || s.starts_with('+')) s.remove_prefix(1);
  const auto first = static_cast<unsigned char>(s.empty() ? 0 : s.front());
  if (!(hex ? std::isxdigit(first) : std::isdigit(first))) return std::nullopt;
  std::uint64_t v = 0;
  const auto r = std::from_chars(s.data(), s.data() + s.size(), v, hex ? 16 : 10);
  if (r.ec != std::errc() || r.ptr != s.data() + s.size()) return std::nullopt;
  if (v > (hex ? 0xFFFFFFFFull : negative ? 2147483648ull : 2147483647ull)) return std::nullopt;
  return static_cast<std::int32_t>(negative ? -static_cast<std::int64_t>(v) : std::int64_t(v));
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  std::string_view in(reinterpret_cast<const char*>(data), size);
  std::string_view part[5];
  for (auto& p : part) {
    p = in.substr(0, in.find('\0'));
    in = in.substr(std::min(in.size(), p.size() + 1));
  }
  const std::string_view section = part[0], key = part[1], value = part[2];
  const std::string_view otherSection = part[3], otherKey = part[4], text = in;

  Check(Profile_Str_To_Int(value) == ReferenceStrToInt(value));

  auto before = Profile_Text_Read(text, section, key);
  Check(!before || before->size() <= 1023);
  Check(ProfileText(std::string(text)).Read(section, key) == before);
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
  Check(read.has_value() && ProfileText(after).Read(section, key) == read);
  Check(*read == ((before && *before == value) ? std::string(value) : Expected(value)));
  if (before && *before == value) Check(after == text);
  if (Fold(section) != Fold(otherSection) || Fold(key) != Fold(otherKey))
    Check(Profile_Text_Read(after, otherSection, otherKey) == otherBefore);
  Check(Profile_Text_Apply(after, writes) == after);
  return 0;
}
