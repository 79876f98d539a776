// Each file the sheet names gets a length from the sheet's own bytes, so that indices fall both
// inside and past their files.
#include <algorithm>
#include <cstdint>
#include <string>
#include <vector>

#include "Check.h"
#include "playback/CueSheet.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  std::string error;
  const auto sheet = cue::Parse({reinterpret_cast<const char*>(data), size}, &error);
  if (!sheet) return Check(!error.empty()), 0;
  Check(!sheet->tracks.empty() && sheet->tracks.size() <= 99);
  for (const cue::Track& t : sheet->tracks)
    Check(std::any_of(t.indices.begin(), t.indices.end(), [](auto& i) { return i.number == 1; }));
  std::vector<std::int64_t> lengths;
  for (std::size_t f = 0; f < sheet->files.size(); ++f)
    lengths.push_back(size == 0 ? 0 : data[f % size] * 977 + static_cast<std::int64_t>(f));
  const auto disc = cue::LayOut(*sheet, lengths, &error);
  if (!disc) return Check(!error.empty()), 0;
  Check(disc->toc.IsValid() && disc->toc.TrackCount() == static_cast<int>(sheet->tracks.size()));
  Check(disc->trackText.size() == sheet->tracks.size());
  std::int32_t at = 0;
  for (const cue::Piece& p : disc->pieces) {
    Check(p.first == at && p.sectors > 0);
    const auto fileLength = p.file >= 0 ? lengths[static_cast<std::size_t>(p.file)] : 0;
    Check(p.file < 0 || (p.fileSector >= 0 && p.fileSector + p.sectors <= fileLength));
    at += p.sectors;
  }
  Check(at == disc->toc.leadout);
  for (int t = 1; t <= disc->toc.TrackCount(); ++t) {
    const std::int32_t start = disc->toc.TrackStart(t);
    const auto in = std::find_if(disc->pieces.begin(), disc->pieces.end(), [&](const auto& p) {
      return p.first <= start && start < p.first + p.sectors;
    });
    Check(in != disc->pieces.end());
    for (const cue::Index& i : sheet->tracks[static_cast<std::size_t>(t - 1)].indices)
      if (i.number == 1)
        Check(in->file == i.file && in->fileSector + start - in->first == i.sector);
  }
  return 0;
}
