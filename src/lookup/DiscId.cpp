#include "lookup/DiscId.h"

#include <memory>

#include <discid/discid.h>

namespace {
// Track starts in the table count from the first audio sector; the database counts from the
// start of the lead-in, two seconds earlier.
constexpr int kLeadIn = 150;
constexpr int kSessionGap = 11400;
}  // namespace

std::optional<Online_Disc_Id> Online_Disc_Id_From(const DiscToc& toc) {
  if (!toc.IsValid()) return std::nullopt;
  int last = toc.TrackCount();
  while (last > 0 && !toc.IsAudio(last)) --last;
  if (last == 0) return std::nullopt;
  const std::int32_t leadout =
      last == toc.TrackCount() ? toc.leadout : toc.TrackStart(last + 1) - kSessionGap;

  int offsets[100] = {};
  offsets[0] = leadout + kLeadIn;
  for (int track = 1; track <= last; ++track) offsets[track] = toc.TrackStart(track) + kLeadIn;

  const std::unique_ptr<DiscId, void (*)(DiscId*)> disc(discid_new(), discid_free);
  if (!disc || !discid_put(disc.get(), 1, last, offsets)) return std::nullopt;
  Online_Disc_Id result{discid_get_id(disc.get()), last, discid_get_toc_string(disc.get()),
                        discid_get_submission_url(disc.get())};
  for (char& c : result.toc)
    if (c == ' ') c = '+';
  return result;
}
