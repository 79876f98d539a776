#pragma once
// What an image file is, told by its own bytes before its name, and whether an NRG image is
// sound enough to hand to libcdio. libcdio's NRG reader trusts every length and offset the file
// states: a file that lies about them crashes it, or has it allocate gigabytes, and it runs on
// anything it is asked about. So an NRG file is recognised by its footer here, and its chunks
// are checked against the file and against what the reader will take from each, before libcdio
// sees it.
//
// An NRG image ends in a footer: "NERO" and a 4-byte offset, or "NER5" and an 8-byte offset
// (big-endian), to a list of chunks (4-byte name, 4-byte big-endian length, data) that ends
// with "END!". The list and the footer together are at most kNrgListBytes long.
#include <cstddef>
#include <cstdint>
#include <string>
#include <string_view>

enum class NrgVerdict {
  NotNrg,    // no NRG footer: some other kind of file
  Usable,    // an NRG image libcdio may read
  Unusable,  // an NRG footer over chunks libcdio must not be given
};

inline constexpr std::size_t kNrgListBytes = 4096;

// `tail` is the end of a file of `fileSize` bytes: its last min(fileSize, kNrgListBytes)
// bytes (more are ignored). The reason for Unusable goes to *why.
NrgVerdict CheckNrg(std::uint64_t fileSize, std::string_view tail, std::string* why);

// As above, reading the end of the file at `path`; a file that cannot be read is NotNrg.
NrgVerdict CheckNrgFile(const std::string& path, std::string* why);
