#include "device/DiscToc.h"

#include <gtest/gtest.h>

#include "device/Tmsf.h"

namespace {

TEST(DiscIdentity, MatchesTheWindowsDriverFormula) {
  // Three tracks: the sum of the packed M:S:F addresses.
  DiscToc three({{0, true}, {12000, true}, {30000, true}}, 45000);
  EXPECT_EQ(three.Identity(), 546304u);
  EXPECT_EQ(three.IdentityText(), "546304");

  // Fewer than three tracks add the first start's frames and the disc's length in frames.
  DiscToc two({{0, true}, {12000, true}}, 30000);
  EXPECT_EQ(two.Identity(), 0x2A130u);

  // Data tracks count like audio tracks; a first track with frames adds them twice over.
  DiscToc one({{33, false}}, 1000);
  // address 183 = 0:02:33 -> 2*256 + 33 = 545; + 33 frames; + 1000 - 33 sectors
  EXPECT_EQ(one.Identity(), 545u + 33u + 967u);
}

TEST(DiscIdentity, SumWrapsInThirtyTwoBits) {
  // 99 tracks at 79 minutes: packed values near 79*65536 each stay well within 32 bits, so
  // build a sum that must wrap from an implausible but representable table.
  std::vector<TocTrack> tracks;
  for (int i = 0; i < 99; ++i) tracks.push_back({i * 1000000, true});
  DiscToc huge(tracks, 99 * 1000000);
  std::uint64_t expected = 0;
  for (int i = 0; i < 99; ++i) {
    std::uint64_t f = static_cast<std::uint64_t>(i) * 1000000 + 150;
    expected += (f / 4500) * 65536 + ((f / 75) % 60) * 256 + f % 75;
  }
  EXPECT_EQ(huge.Identity(), static_cast<std::uint32_t>(expected));
}

TEST(DiscPositions, TmsfRoundTripsAndClampsToTheDisc) {
  DiscToc toc({{0, true}, {4500 + 150, true}, {20000, true}}, 30000);
  EXPECT_EQ(toc.ToTmsf(0), tmsf::Make(1, 0, 0, 0));
  EXPECT_EQ(toc.ToTmsf(4649), tmsf::Make(1, 1, 1, 74));
  EXPECT_EQ(toc.ToTmsf(4650 + 75 * 65 + 3), tmsf::Make(2, 1, 5, 3));
  EXPECT_EQ(toc.ToTmsf(30000), tmsf::Make(3, 2, 13, 25));  // the end of the disc
  for (std::int32_t lsn : {0, 1, 4649, 4650, 19999, 20000, 29999, 30000})
    EXPECT_EQ(toc.FromTmsf(toc.ToTmsf(lsn)), lsn);
  EXPECT_FALSE(toc.FromTmsf(tmsf::TrackStart(4)).has_value());
  EXPECT_FALSE(toc.FromTmsf(tmsf::TrackStart(0)).has_value());
  EXPECT_FALSE(toc.FromTmsf(tmsf::Make(3, 10, 0, 0)).has_value());
}

TEST(DiscPositions, ValidityRejectsTablesThatMakeNoSense) {
  EXPECT_TRUE(DiscToc({{0, true}}, 10).IsValid());
  EXPECT_FALSE(DiscToc({}, 10).IsValid());
  EXPECT_FALSE(DiscToc({{0, true}, {0, true}}, 10).IsValid());
  EXPECT_FALSE(DiscToc({{100, true}, {50, true}}, 200).IsValid());
  EXPECT_FALSE(DiscToc({{0, true}, {50, true}}, 50).IsValid());
  EXPECT_FALSE(DiscToc({{-5, true}}, 50).IsValid());
  std::vector<TocTrack> many;
  for (int i = 0; i < 100; ++i) many.push_back({i * 10, true});
  EXPECT_FALSE(DiscToc(many, 2000).IsValid());
  many.pop_back();
  EXPECT_TRUE(DiscToc(many, 2000).IsValid());
}

}  // namespace
