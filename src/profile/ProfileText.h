// The rules of the profile files on their bytes, as the Windows profile functions apply them:
// parse, find and edit, with no file and nothing but the C++ standard library, so they are fuzzed
// alone. The rules themselves are described in docs/profile-files.md.
#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <string_view>
#include <unordered_map>
#include <utility>
#include <vector>

// One key to write: section, key name, value, as bytes.
struct ProfileWrite {
  std::string section, key, value;
};

// The conversion behind Profile_Read_Integer, without its "0x" rewriting and without a default:
// leading spaces skipped, then an optional "+" or "-" and one or more decimal digits in
// -2147483648..2147483647, or "$" and one or more hexadecimal digits (no sign) whose value fits
// in 32 bits, taken as a 32-bit pattern ("$FFFFFFFF" is -1). Anything else gives nullopt.
std::optional<std::int32_t> Profile_Str_To_Int(std::string_view text);
// Profile_Read_Integer's reading of a stored text: "0x" taken as "$", else `def`.
std::int32_t Profile_Integer_From_Text(std::string text, std::int32_t def);

// One version of a file's bytes with its sections indexed, for repeated reads.
class ProfileText {
 public:
  explicit ProfileText(std::string text);
  const std::string& text() const { return text_; }
  // The value as a read returns it; nullopt where the file has no such key.
  std::optional<std::string> Read(std::string_view section, std::string_view key) const;

 private:
  std::string text_;
  std::unordered_map<std::string, std::pair<std::size_t, std::size_t>> sections_;  // folded name
};

// What a read returns when the key is missing: the default, cut as Windows cuts it.
std::string Profile_Default_Result(std::string_view def);
// Raises std::invalid_argument for a name or value that would break the file's structure.
void Profile_Validate(const ProfileWrite& write);

// Profile_Text_Read gives nullopt where the file has no such key (the caller's default applies).
// Profile_Text_Apply returns the new bytes or raises std::invalid_argument for a name or value
// that would break the file's structure.
std::optional<std::string> Profile_Text_Read(std::string_view text, std::string_view section,
                                             std::string_view key);
std::string Profile_Text_Apply(std::string_view text, const std::vector<ProfileWrite>& writes);
