// Code page 932 (Windows Shift-JIS) <-> Unicode, the only text conversions of the program: the
// data model keeps names as the files' bytes, widgets show QString. glibc iconv with the name
// "CP932", never "SHIFT_JIS" (which maps 5C to the yen sign and lacks the NEC and IBM
// extensions).
//
// Decoding never fails: a byte that does not start a valid character becomes U+FFFD, for display
// only. A lead byte followed by a valid trail byte that CP932 leaves unassigned is one U+FFFD
// (both bytes); a lead byte followed by anything else is one U+FFFD and the next byte is decoded
// on its own, as Windows does. Encoding is exact or refused: text that CP932 cannot hold gives
// nullopt, never a "?" or a dropped character. Where the C library has no CP932 converter (a
// system without glibc's gconv modules), both directions still work for the single-byte
// characters, ASCII and half-width katakana: every other character decodes to U+FFFD and is
// refused when encoding, and neither direction ever throws.
#pragma once

#include <QString>
#include <optional>
#include <string>
#include <string_view>

std::string Cp932_To_Utf8(std::string_view cp932);
std::optional<std::string> Utf8_To_Cp932(std::string_view utf8);  // nullopt: not representable

QString Cp932_To_QString(std::string_view cp932);
std::optional<std::string> QString_To_Cp932(const QString& text);  // nullopt: not representable

// The name the C library's converter is opened under, "CP932". Tests name one that does not
// exist, to stand for a system without it.
void Set_Cp932_Iconv_Name(std::string name);
