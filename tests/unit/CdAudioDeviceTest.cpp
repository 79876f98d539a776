#include "device/CdAudioDevice.h"

#include <gtest/gtest.h>

#include <functional>
#include <map>
#include <sstream>

#include "device/SimulatedDriver.h"
#include "device/Tmsf.h"
#include "support/SharedDriver.h"

using namespace mci;
using namespace std::chrono_literals;

namespace {

// Queries left out, one word each: command/flags+other flags@position#item, the flags as
// N(otify) W(ait) F(rom) T(o), the rest in hex. Any other command throws.
std::string Describe(const auto& log) {
  static const std::map<std::uint16_t, const char*> names = {
      {MCI_PLAY, "play"}, {MCI_SEEK, "seek"}, {MCI_STOP, "stop"}, {MCI_SET, "set"}};
  std::ostringstream out;
  for (const auto& r : log) {
    if (r.command == MCI_STATUS || r.command == MCI_GETDEVCAPS) continue;
    out << (out.tellp() ? " " : "") << names.at(r.command) << '/' << std::hex;
    for (auto [bit, letter] :
         {std::pair{MCI_NOTIFY, 'N'}, {MCI_WAIT, 'W'}, {MCI_FROM, 'F'}, {MCI_TO, 'T'}})
      if (r.flags & bit) out << letter;
    if (r.flags & ~0xFu) out << '+' << (r.flags & ~0xFu);
    if (r.flags & (MCI_FROM | MCI_TO))
      out << '@' << (r.flags & MCI_FROM ? r.params.from : r.params.to);
    if (r.params.item) out << '#' << r.params.item;
  }
  return out.str();
}

std::string Thrown(const std::function<void()>& op) try {
  op();
  return "no error";
} catch (const EMCIDeviceError& e) {
  return e.what();
}

// Five tracks of 70, 65, 80, 61 and 90 seconds.
class DeviceTest : public ::testing::Test {
 protected:
  void SetUp() override { Open(true); }
  void Open(bool canEject) {
    auto driver =
        std::make_unique<SimulatedDriver>(SimulatedDriver::MakeDisc({70, 65, 80, 61, 90}));
    (sim = driver.get())->setCanEject(canEject);
    (device = std::make_unique<CdAudioDevice>(std::move(driver)))->Loaded();
    sim->clearLog();
  }
  std::string Sent() {
    const std::string out = Describe(sim->log());
    return sim->clearLog(), out;
  }
  // The player's Next and Previous buttons: a waited move, leaving Wait(false) pending.
  void Press(void (CdAudioDevice::*button)()) {
    device->Device_Set_Wait(true);
    (device.get()->*button)();
    device->Device_Set_Wait(false);
  }

  SimulatedDriver* sim = nullptr;
  std::unique_ptr<CdAudioDevice> device;
};

// Any owner but the window relies on the destructor to close the device.
TEST(DeviceOpen, FailureTextsTheClosedDeviceAndCloseOnDestruction) {
  auto driver = std::make_unique<SimulatedDriver>();
  driver->failOpen(9999);
  CdAudioDevice failed(std::move(driver));
  EXPECT_EQ(Thrown([&] { failed.Loaded(); }), "原因不明のｴﾗｰ");
  EXPECT_FALSE(failed.Is_Open());
  EXPECT_EQ(failed.Last_Error(), 9999);

  auto sim = std::make_shared<SimulatedDriver>(SimulatedDriver::MakeDisc({60}));
  CdAudioDevice(std::make_unique<SharedDriver>(sim)).Loaded();
  EXPECT_EQ(sim->log().back().command, MCI_CLOSE);

  CdAudioDevice d(std::make_unique<SimulatedDriver>(SimulatedDriver::MakeDisc({60})));
  const std::function<void()> checked[] = {
      [&] { d.Device_Play(); },   [&] { d.Device_Stop(); },     [&] { d.Device_Seek(1); },
      [&] { d.Device_Next(); },   [&] { d.Device_Previous(); }, [&] { d.Device_Eject(); },
      [&] { d.Device_Tracks(); }, [&] { d.Device_Length(); },   [&] { d.Device_Time_Format(); }};
  for (const auto& op : checked) EXPECT_EQ(Thrown(op), "MCI ﾃﾞﾊﾞｲｽがありません");
  // Unchecked queries go to the driver, fail there, and answer "nothing to do".
  EXPECT_EQ(d.Device_Mode(), Mode_Not_Ready);
  EXPECT_EQ(d.Device_Position(), 0u);
  EXPECT_EQ(d.Last_Error(), static_cast<std::int32_t>(MCIERR_INVALID_DEVICE_ID));
}

TEST_F(DeviceTest, OneShotOverrides) {
  // The Notify override; status queries and the time format leave the overrides alone.
  device->Device_Set_Notify(false);
  device->Device_Set_Wait(true);
  (void)device->Device_Mode(), (void)device->Device_Position();
  device->Device_Set_Time_Format(MCI_FORMAT_TMSF);
  device->Device_Play();
  device->Device_Set_Notify(true);
  device->Device_Stop();
  EXPECT_EQ(Sent(), "set/N+400 play/W stop/NW");

  device->Device_Play();
  sim->advance(10s), sim->clearLog();
  Press(&CdAudioDevice::Device_Next);
  EXPECT_EQ(Sent(), "play/NF@2");
  EXPECT_TRUE(sim->isPlaying());
  device->Device_Stop(), device->Device_Stop(), device->Device_Play();
  EXPECT_EQ(Sent(), "stop/ stop/W play/N");

  // Stopped, the press's Wait goes to its seek, and the first Seek or Eject after it does not wait.
  device->Device_Stop(), sim->clearLog();
  Press(&CdAudioDevice::Device_Next);
  device->Device_Seek(tmsf::TrackStart(4)), device->Device_Seek(tmsf::TrackStart(5));
  EXPECT_EQ(Sent(), "seek/WT@3 seek/T@4 seek/WT@5");
  EXPECT_FALSE(sim->isPlaying());
  Press(&CdAudioDevice::Device_Previous);
  device->Device_Eject();
  EXPECT_EQ(Sent(), "seek/WT@4 set/+100");
  EXPECT_EQ(device->Device_Mode(), Mode_Open);
}

TEST_F(DeviceTest, NextAndPreviousTargets) {
  const auto next = &CdAudioDevice::Device_Next, previous = &CdAudioDevice::Device_Previous;
  const std::tuple<std::uint32_t, decltype(next), const char*> cases[] = {
      {tmsf::Make(5, 0, 30, 0), next, "seek/WT@5"},
      {tmsf::Make(5, 0, 0, 74), previous, "seek/WT@4"},
      {tmsf::Make(5, 0, 1, 0), previous, "seek/WT@5"},
      {tmsf::Make(1, 0, 0, 0), previous, "seek/WT@1"}};
  for (const auto& [from, button, sent] : cases) {
    device->Device_Seek(from), sim->clearLog();
    (device.get()->*button)();
    EXPECT_EQ(Sent(), sent) << std::hex << from;
  }
  device->Device_Seek(tmsf::Make(3, 0, 0, 10)), device->Device_Play(), sim->clearLog();
  device->Device_Previous();
  EXPECT_EQ(Sent(), "play/NF@2");
}

TEST_F(DeviceTest, AutoRewindWhenThePositionEqualsTheLengthUnlessFromIsPending) {
  sim->forceStatusAnswer(MCI_STATUS_POSITION, 0x00050403);
  sim->forceStatusAnswer(MCI_STATUS_LENGTH, 0x00050403);
  device->Device_Play();
  EXPECT_EQ(Sent(), "seek/W+100 play/N");
  device->Device_Set_From(tmsf::TrackStart(2)), device->Device_Play();
  EXPECT_EQ(Sent(), "play/NF@2");
}

TEST_F(DeviceTest, LastErrorRecordsRefusalsButNotTrackPositionsOrIdentity) {
  sim->openTray(), device->Device_Play();
  EXPECT_NE(device->Last_Error(), 0);
  sim->closeTray(), (void)device->Device_Mode();
  EXPECT_EQ(device->Last_Error(), 0);
  (void)device->Device_Track_Position(42);  // refused, but not recorded
  EXPECT_EQ(device->Last_Error(), 0);
  sim->failIdentity(true);
  EXPECT_FALSE(device->Device_Disc_Identity().has_value());
  EXPECT_EQ(device->Last_Error(), 0);
  sim->failIdentity(false);
  EXPECT_EQ(device->Device_Disc_Identity(), sim->disc()->IdentityText());
  Open(false);
  EXPECT_FALSE(device->Can_Eject());
  device->Device_Eject();
  EXPECT_TRUE(sim->log().empty());
}

// The window polls the simulated drive for ever.
TEST_F(DeviceTest, TheSimulatedDriveKeepsOnlyTheLatestRequestsAndStopsAtTheEnd) {
  for (std::size_t i = 0; i < 3 * SimulatedDriver::kLogLimit; ++i) (void)device->Device_Mode();
  device->Device_Play();
  EXPECT_EQ(sim->log().size(), SimulatedDriver::kLogLimit);
  EXPECT_EQ(sim->log().front().command, MCI_STATUS);
  EXPECT_EQ(Sent(), "play/N");
  device->Device_Seek(tmsf::TrackStart(5)), device->Device_Play();
  sim->advance(89s);
  EXPECT_EQ(device->Device_Mode(), Mode_Playing);
  sim->advance(2s);
  EXPECT_EQ(device->Device_Mode(), Mode_Stopped);
  EXPECT_EQ(device->Device_Position(), tmsf::Make(5, 1, 30, 0));
}

TEST(DiscToc, IdentityTmsfRoundTripsWithinTheDiscAndValidity) {
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
  DiscToc toc({{0, true}, {4500 + 150, true}, {20000, true}}, 30000);
  EXPECT_EQ(toc.ToTmsf(4649), tmsf::Make(1, 1, 1, 74));
  EXPECT_EQ(toc.ToTmsf(4650 + 75 * 65 + 3), tmsf::Make(2, 1, 5, 3));
  EXPECT_EQ(toc.ToTmsf(30000), tmsf::Make(3, 2, 13, 25));  // the end of the disc
  for (std::int32_t lsn : {0, 1, 4649, 4650, 19999, 20000, 29999, 30000})
    EXPECT_EQ(toc.FromTmsf(toc.ToTmsf(lsn)), lsn);
  for (std::uint32_t outside : {tmsf::TrackStart(4), tmsf::TrackStart(0), tmsf::Make(3, 10, 0, 0)})
    EXPECT_FALSE(toc.FromTmsf(outside).has_value()) << std::hex << outside;
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
