#include "device/DiscToc.h"

#include <gtest/gtest.h>

#include "device/Tmsf.h"

namespace {

TEST(DiscIdentity, MatchesTheWindowsDriverFormula) {
  constexpr std::int32_t kAt = 40000 * 4500 - 150;  // minute 40000 on the disc
  const std::pair<DiscToc, std::uint32_t> cases[] = {
      {{{{0, true}, {12000, true}, {30000, true}}, 45000}, 546304u},
      // Fewer than three tracks add the first start's frames and the disc's length in frames.
      {{{{0, true}, {12000, true}}, 30000}, 0x2A130u},
      // A data track counts; address 183 = 0:02:33 -> 545, + 33 frames, + 1000 - 33 sectors.
      {{{{33, false}}, 1000}, 545u + 33u + 967u},
      // Whole minutes 40000 to 40002: 120003 x 65536 wraps to 54467 x 65536 in 32 bits.
      {{{{kAt, true}, {kAt + 4500, true}, {kAt + 9000, true}}, kAt + 13650}, 54467u * 65536u}};
  for (const auto& [toc, identity] : cases) EXPECT_EQ(toc.Identity(), identity) << toc.leadout;
  EXPECT_EQ(cases[0].first.IdentityText(), "546304");
}

TEST(DiscPositions, TmsfRoundTripsAndClampsToTheDisc) {
  DiscToc toc({{0, true}, {4500 + 150, true}, {20000, true}}, 30000);
  EXPECT_EQ(toc.ToTmsf(4649), tmsf::Make(1, 1, 1, 74));
  EXPECT_EQ(toc.ToTmsf(4650 + 75 * 65 + 3), tmsf::Make(2, 1, 5, 3));
  EXPECT_EQ(toc.ToTmsf(30000), tmsf::Make(3, 2, 13, 25));  // the end of the disc
  for (std::int32_t lsn : {0, 1, 4649, 4650, 19999, 20000, 29999, 30000})
    EXPECT_EQ(toc.FromTmsf(toc.ToTmsf(lsn)), lsn);
  for (std::uint32_t outside : {tmsf::TrackStart(4), tmsf::TrackStart(0), tmsf::Make(3, 10, 0, 0)})
    EXPECT_FALSE(toc.FromTmsf(outside).has_value()) << std::hex << outside;
}

TEST(DiscPositions, ValidityRejectsTablesThatMakeNoSense) {
  std::vector<TocTrack> many;
  for (int i = 0; i < 99; ++i) many.push_back({i * 10, true});
  EXPECT_TRUE(DiscToc(many, 2000).IsValid());
  EXPECT_TRUE(DiscToc({{0, true}}, 10).IsValid());
  many.push_back({990, true});
  const std::pair<std::vector<TocTrack>, std::int32_t> nonsense[] = {
      {many, 2000},
      {{}, 10},
      {{{0, true}, {0, true}}, 10},
      {{{100, true}, {50, true}}, 200},
      {{{0, true}, {50, true}}, 50},
      {{{-5, true}}, 50}};
  for (const auto& [tracks, leadout] : nonsense)
    EXPECT_FALSE(DiscToc(tracks, leadout).IsValid()) << tracks.size() << " tracks to " << leadout;
}

}  // namespace
