#include "disc/DiscNames.h"

#include <iconv.h>
#include <locale.h>

#include <cerrno>
#include <memory>

#include "disc/Cp932.h"

namespace {

std::string_view Trimmed(std::string_view s) {
  while (!s.empty() && (s.front() == ' ' || s.front() == '\t')) s.remove_prefix(1);
  while (!s.empty() && (s.back() == ' ' || s.back() == '\t')) s.remove_suffix(1);
  return s;
}

// The length of the UTF-8 character at the start of s; 0 when it is not one.
std::size_t Utf8_Length(std::string_view s) {
  const auto c = static_cast<unsigned char>(s[0]);
  const std::size_t n = c < 0x80                ? 1
                        : c >= 0xC2 && c < 0xE0 ? 2
                        : c >= 0xE0 && c < 0xF0 ? 3
                        : c >= 0xF0 && c < 0xF5 ? 4
                                                : 0;
  if (n == 0 || n > s.size()) return 0;
  for (std::size_t i = 1; i < n; ++i)
    if ((static_cast<unsigned char>(s[i]) & 0xC0) != 0x80) return 0;
  return n;
}

bool Is_Utf8(std::string_view s) {
  while (!s.empty()) {
    const std::size_t n = Utf8_Length(s);
    if (n == 0) return false;
    s.remove_prefix(n);
  }
  return true;
}

std::string Latin1_To_Utf8(std::string_view s) {
  std::string out;
  for (const char ch : s) {
    const auto c = static_cast<unsigned char>(ch);
    if (c < 0x80) {
      out += ch;
    } else {
      out += static_cast<char>(0xC0 | (c >> 6));
      out += static_cast<char>(0x80 | (c & 0x3F));
    }
  }
  return out;
}

// glibc transliterates by the tables of the thread's LC_CTYPE locale, and the "C" locale a
// program starts in has none for accented letters: the conversion runs under C.UTF-8, whatever
// locale the program is in.
class Transliterator {
 public:
  Transliterator()
      : locale_(newlocale(LC_CTYPE_MASK, "C.UTF-8", static_cast<locale_t>(nullptr))),
        cd_(iconv_open("CP932//TRANSLIT", "UTF-8")) {}
  ~Transliterator() {
    if (Open()) iconv_close(cd_);
    if (locale_) freelocale(locale_);
  }
  Transliterator(const Transliterator&) = delete;
  Transliterator& operator=(const Transliterator&) = delete;

  bool Open() const { return cd_ != reinterpret_cast<iconv_t>(-1); }

  // One character; nullopt when it has no transliteration.
  std::optional<std::string> Convert(std::string_view character) {
    const locale_t previous = locale_ ? uselocale(locale_) : static_cast<locale_t>(nullptr);
    iconv(cd_, nullptr, nullptr, nullptr, nullptr);
    char buffer[64];
    char* in = const_cast<char*>(character.data());
    std::size_t inLeft = character.size(), outLeft = sizeof buffer;
    char* out = buffer;
    const bool ok = iconv(cd_, &in, &inLeft, &out, &outLeft) != static_cast<std::size_t>(-1) &&
                    inLeft == 0 && out != buffer;
    if (previous) uselocale(previous);
    if (!ok) return std::nullopt;
    return std::string(buffer, static_cast<std::size_t>(out - buffer));
  }

 private:
  locale_t locale_;
  iconv_t cd_;
};

std::optional<std::string> Transliterated(std::string_view character) {
  thread_local Transliterator transliterator;
  if (!transliterator.Open()) return std::nullopt;
  return transliterator.Convert(character);
}

}  // namespace

std::string Cp932_From_Outside(std::string_view utf8) {
  if (auto exact = Utf8_To_Cp932(utf8)) return std::move(*exact);
  std::string out;
  while (!utf8.empty()) {
    const std::size_t n = Utf8_Length(utf8);
    if (n == 0) {
      out += '?';
      utf8.remove_prefix(1);
      continue;
    }
    const std::string_view character = utf8.substr(0, n);
    utf8.remove_prefix(n);
    if (auto exact = Utf8_To_Cp932(character))
      out += *exact;
    else
      out += Transliterated(character).value_or("?");
  }
  return out;
}

std::string Cp932_From_Disc(std::string_view text, DiscText::Encoding encoding) {
  text = Trimmed(text);
  const auto validCp932 = [&] {
    return Cp932_To_Utf8(text).find("\xEF\xBF\xBD") == std::string::npos;
  };
  switch (encoding) {
    case DiscText::Encoding::Utf8:
      return Cp932_From_Outside(text);
    case DiscText::Encoding::Latin1:
      return Cp932_From_Outside(Latin1_To_Utf8(text));
    case DiscText::Encoding::Cp932:
      return validCp932() ? std::string(text) : Cp932_From_Outside(Cp932_To_Utf8(text));
    case DiscText::Encoding::Guess:
      if (Is_Utf8(text)) return Cp932_From_Outside(text);
      if (validCp932()) return std::string(text);
      return Cp932_From_Outside(Latin1_To_Utf8(text));
  }
  return {};
}

std::string Track_Name(std::string_view albumPerformer, std::string_view performer,
                       std::string_view title) {
  if (title.empty()) return {};
  if (performer.empty() || performer == albumPerformer) return std::string(title);
  return std::string(performer).append(" / ").append(title);
}

Outside_Names Names_From_Disc(const DiscText& text) {
  const auto stored = [&](const std::string& name) { return Cp932_From_Disc(name, text.encoding); };
  Outside_Names names;
  names.artist = stored(text.album.performer);
  names.title = stored(text.album.title);
  for (const DiscText::Names& track : text.tracks)
    names.tracks.push_back(Track_Name(names.artist, stored(track.performer), stored(track.title)));
  return names;
}
