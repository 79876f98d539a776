#include "disc/Cp932.h"

#include <iconv.h>

#include <cerrno>
#include <stdexcept>

namespace {

// One conversion descriptor per direction and thread, opened on first use.
class Converter {
 public:
  Converter(const char* to, const char* from) : cd_(iconv_open(to, from)) {
    if (cd_ == reinterpret_cast<iconv_t>(-1))
      throw std::runtime_error(std::string("iconv cannot convert ") + from + " to " + to);
  }
  ~Converter() { iconv_close(cd_); }
  Converter(const Converter&) = delete;
  Converter& operator=(const Converter&) = delete;

  // Converts as much as it can; returns the errno that stopped it (0 at the end of the input).
  // `in` and `out` advance.
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

Converter& Decoder() {
  static thread_local Converter c("UTF-8", "CP932");
  return c;
}
Converter& Encoder() {
  static thread_local Converter c("CP932", "UTF-8");
  return c;
}

bool IsLead(unsigned char c) {
  return (c >= 0x81 && c <= 0x9F) || (c >= 0xE0 && c <= 0xFC);
}
bool IsTrail(unsigned char c) {
  return (c >= 0x40 && c <= 0x7E) || (c >= 0x80 && c <= 0xFC);
}

}  // namespace

std::string Cp932ToUtf8(std::string_view in) {
  std::string out;
  out.reserve(in.size() * 3 / 2);
  while (!in.empty()) {
    if (Decoder().Run(in, out, false) == 0) break;
    // Skip the bad character: a structurally valid pair counts as one, anything else one byte.
    auto lead = static_cast<unsigned char>(in[0]);
    std::size_t skip =
        (IsLead(lead) && in.size() >= 2 && IsTrail(static_cast<unsigned char>(in[1]))) ? 2 : 1;
    in.remove_prefix(skip);
    out += "\xEF\xBF\xBD";  // U+FFFD
  }
  return out;
}

std::optional<std::string> Utf8ToCp932(std::string_view in) {
  std::string out;
  out.reserve(in.size());
  if (Encoder().Run(in, out, true) != 0) return std::nullopt;
  return out;
}

QString Cp932ToQString(std::string_view cp932) {
  std::string utf8 = Cp932ToUtf8(cp932);
  return QString::fromUtf8(utf8.data(), static_cast<qsizetype>(utf8.size()));
}

std::optional<std::string> QStringToCp932(const QString& text) {
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
  return Utf8ToCp932(std::string_view(utf8.constData(), static_cast<std::size_t>(utf8.size())));
}
