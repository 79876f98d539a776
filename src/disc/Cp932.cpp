#include "disc/Cp932.h"
#include "log/Log.h"

#include <iconv.h>

#include <atomic>
#include <cerrno>
#include <cstdio>
#include <memory>
#include <mutex>

namespace {

// One conversion descriptor; Run converts as much as it can.
class Converter {
 public:
  Converter(const char* to, const char* from) : cd_(iconv_open(to, from)) {}
  ~Converter() {
    if (Open()) iconv_close(cd_);
  }
  Converter(const Converter&) = delete;
  Converter& operator=(const Converter&) = delete;

  bool Open() const { return cd_ != reinterpret_cast<iconv_t>(-1); }

  // Returns the errno that stopped it (0 at the end of the input). `in` and `out` advance.
  int Run(std::string_view& in, std::string& out, bool strict) {
    iconv(cd_, nullptr, nullptr, nullptr, nullptr);  // reset the shift state
    char buffer[1024];
    while (!in.empty()) {
      char* src = const_cast<char*>(in.data());
      std::size_t srcLeft = in.size();
      char* dst = buffer;
      std::size_t dstLeft = sizeof buffer;
      std::size_t r = iconv(cd_, &src, &srcLeft, &dst, &dstLeft);
      int error = r == static_cast<std::size_t>(-1) ? errno : 0;
      out.append(buffer, static_cast<std::size_t>(dst - buffer));
      in.remove_prefix(in.size() - srcLeft);
      if (error == E2BIG) continue;
      if (error != 0) return error;
      if (strict && r > 0) return EILSEQ;  // an inexact (irreversible) conversion is refused
    }
    return 0;
  }

 private:
  iconv_t cd_;
};

std::mutex Name_Mutex;
std::string Iconv_Name = "CP932";  // guarded by Name_Mutex
std::atomic<unsigned> Name_Generation{0};
std::atomic<bool> Missing_Reported{false};

// The converters of this thread, opened on first use and again after the name changes; null
// where the C library has no such converter (a system without glibc's gconv modules).
struct ThreadConverters {
  unsigned generation = 0;
  std::unique_ptr<Converter> decoder, encoder;
};
ThreadConverters& Converters() {
  thread_local ThreadConverters t;
  const unsigned generation = Name_Generation.load() + 1;
  if (t.generation == generation) return t;
  std::string name;
  {
    std::lock_guard lock(Name_Mutex);
    name = Iconv_Name;
  }
  t.decoder = std::make_unique<Converter>("UTF-8", name.c_str());
  t.encoder = std::make_unique<Converter>(name.c_str(), "UTF-8");
  if (!t.decoder->Open()) t.decoder.reset();
  if (!t.encoder->Open()) t.encoder.reset();
  t.generation = generation;
  if ((!t.decoder || !t.encoder) && !Missing_Reported.exchange(true))
    qCWarning(lcDisc,
              "the C library cannot convert %s; names show only their ASCII and half-width "
              "katakana",
              name.c_str());
  return t;
}

bool Is_Lead(unsigned char c) {
  return (c >= 0x81 && c <= 0x9F) || (c >= 0xE0 && c <= 0xFC);
}
bool Is_Trail(unsigned char c) {
  return (c >= 0x40 && c <= 0x7E) || (c >= 0x80 && c <= 0xFC);
}

// Half-width katakana: single bytes A1-DF are U+FF61-U+FF9F.
constexpr unsigned char kFirstKana = 0xA1, kLastKana = 0xDF;
constexpr char32_t kKanaBase = 0xFF61;

// The bytes of the first invalid character: a structurally valid pair counts as one.
std::size_t Invalid_Length(std::string_view in) {
  const auto lead = static_cast<unsigned char>(in[0]);
  return (Is_Lead(lead) && in.size() >= 2 && Is_Trail(static_cast<unsigned char>(in[1]))) ? 2 : 1;
}

// Without a converter: the single-byte characters, ASCII and half-width katakana, which need no
// table; each double-byte character is shown as U+FFFD.
std::string Decode_Single_Bytes(std::string_view in) {
  std::string out;
  while (!in.empty()) {
    const auto c = static_cast<unsigned char>(in[0]);
    if (c < 0x80) {
      out += static_cast<char>(c);
      in.remove_prefix(1);
    } else if (c >= kFirstKana && c <= kLastKana) {
      const char32_t u = kKanaBase + (c - kFirstKana);
      out += static_cast<char>(0xE0 | (u >> 12));
      out += static_cast<char>(0x80 | ((u >> 6) & 0x3F));
      out += static_cast<char>(0x80 | (u & 0x3F));
      in.remove_prefix(1);
    } else {
      in.remove_prefix(Invalid_Length(in));
      out += "\xEF\xBF\xBD";
    }
  }
  return out;
}

// The inverse: text made only of those characters, or nullopt.
std::optional<std::string> Encode_Single_Bytes(std::string_view in) {
  std::string out;
  while (!in.empty()) {
    const auto c = static_cast<unsigned char>(in[0]);
    if (c < 0x80) {
      out += static_cast<char>(c);
      in.remove_prefix(1);
      continue;
    }
    if (in.size() < 3 || c != 0xEF) return std::nullopt;
    const auto b1 = static_cast<unsigned char>(in[1]), b2 = static_cast<unsigned char>(in[2]);
    if ((b1 & 0xC0) != 0x80 || (b2 & 0xC0) != 0x80) return std::nullopt;
    const char32_t u = 0xF000 | ((b1 & 0x3F) << 6) | (b2 & 0x3F);
    if (u < kKanaBase || u > kKanaBase + (kLastKana - kFirstKana)) return std::nullopt;
    out += static_cast<char>(kFirstKana + (u - kKanaBase));
    in.remove_prefix(3);
  }
  return out;
}

}  // namespace

std::string Cp932_To_Utf8(std::string_view in) {
  Converter* decoder = Converters().decoder.get();
  if (!decoder) return Decode_Single_Bytes(in);
  std::string out;
  out.reserve(in.size() * 3 / 2);
  while (!in.empty()) {
    if (decoder->Run(in, out, false) == 0) break;
    in.remove_prefix(Invalid_Length(in));
    out += "\xEF\xBF\xBD";  // U+FFFD
  }
  return out;
}

std::optional<std::string> Utf8_To_Cp932(std::string_view in) {
  Converter* encoder = Converters().encoder.get();
  if (!encoder) return Encode_Single_Bytes(in);
  std::string out;
  out.reserve(in.size());
  if (encoder->Run(in, out, true) != 0) return std::nullopt;
  return out;
}

QString Cp932_To_QString(std::string_view cp932) {
  std::string utf8 = Cp932_To_Utf8(cp932);
  return QString::fromUtf8(utf8.data(), static_cast<qsizetype>(utf8.size()));
}

std::optional<std::string> QString_To_Cp932(const QString& text) {
  // A lone surrogate cannot be encoded (Qt's UTF-8 encoder would turn it into "?").
  for (qsizetype i = 0; i < text.size(); ++i) {
    const QChar c = text[i];
    if (c.isHighSurrogate() && i + 1 < text.size() && text[i + 1].isLowSurrogate()) {
      ++i;
    } else if (c.isSurrogate()) {
      return std::nullopt;
    }
  }
  QByteArray utf8 = text.toUtf8();
  return Utf8_To_Cp932(std::string_view(utf8.constData(), static_cast<std::size_t>(utf8.size())));
}

void Set_Cp932_Iconv_Name(std::string name) {
  std::lock_guard lock(Name_Mutex);
  Iconv_Name = std::move(name);
  ++Name_Generation;
}
