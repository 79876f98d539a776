#include "device/CdAudioDevice.h"

#include <gtest/gtest.h>

#include "device/SimulatedDriver.h"
#include "device/Tmsf.h"
#include "support/SharedDriver.h"

using namespace mci;
using namespace std::chrono_literals;
using Request = SimulatedDriver::Request;

namespace {

// Five tracks of 70, 65, 80, 61 and 90 seconds.
class DeviceTest : public ::testing::Test {
 protected:
  void SetUp() override { Open(SimulatedDriver::MakeDisc({70, 65, 80, 61, 90})); }

  void Open(DiscToc disc) {
    auto driver = std::make_unique<SimulatedDriver>(std::move(disc));
    sim = driver.get();
    device = std::make_unique<CdAudioDevice>(std::move(driver));
    device->Loaded();
    sim->clearLog();
  }

  // The requests that change the drive: everything but status and capability queries.
  std::vector<Request> Commands() const {
    std::vector<Request> out;
    for (const Request& r : sim->log())
      if (r.command != MCI_STATUS && r.command != MCI_GETDEVCAPS) out.push_back(r);
    return out;
  }

  std::uint32_t TrackStart(int t) { return tmsf::TrackStart(static_cast<std::uint32_t>(t)); }

  SimulatedDriver* sim = nullptr;
  std::unique_ptr<CdAudioDevice> device;
};

TEST(DeviceOpen, FailureCarriesTheDriverTextOrTheUnknownErrorText) {
  auto driver = std::make_unique<SimulatedDriver>();
  driver->failOpen(MCIERR_DEVICE_LOCKED, "/dev/sr0: the drive is in use by another program");
  CdAudioDevice device(std::move(driver));
  try {
    device.Loaded();
    FAIL() << "opening should fail";
  } catch (const EMCIDeviceError& e) {
    EXPECT_STREQ(e.what(), "/dev/sr0: the drive is in use by another program");
  }
  EXPECT_FALSE(device.Is_Open());
  EXPECT_EQ(device.Last_Error(), static_cast<std::int32_t>(MCIERR_DEVICE_LOCKED));

  auto silent = std::make_unique<SimulatedDriver>();
  silent->failOpen(9999);  // a code with no text of its own
  CdAudioDevice unknown(std::move(silent));
  EXPECT_THROW(
      {
        try {
          unknown.Device_Open();
        } catch (const EMCIDeviceError& e) {
          EXPECT_STREQ(e.what(), "原因不明のｴﾗｰ");
          throw;
        }
      },
      EMCIDeviceError);
}

TEST(DeviceOpen, ClosedDeviceRefusesTheCheckedOperationsOnly) {
  CdAudioDevice device(std::make_unique<SimulatedDriver>(SimulatedDriver::MakeDisc({60})));
  for (auto op : std::initializer_list<void (*)(CdAudioDevice&)>{
           [](CdAudioDevice& d) { d.Device_Play(); }, [](CdAudioDevice& d) { d.Device_Stop(); },
           [](CdAudioDevice& d) { d.Device_Seek(1); }, [](CdAudioDevice& d) { d.Device_Next(); },
           [](CdAudioDevice& d) { d.Device_Previous(); },
           [](CdAudioDevice& d) { d.Device_Eject(); },
           [](CdAudioDevice& d) { (void)d.Device_Tracks(); },
           [](CdAudioDevice& d) { (void)d.Device_Length(); },
           [](CdAudioDevice& d) { (void)d.Device_Time_Format(); }}) {
    try {
      op(device);
      ADD_FAILURE() << "expected EMCIDeviceError";
    } catch (const EMCIDeviceError& e) {
      EXPECT_STREQ(e.what(), "MCI ﾃﾞﾊﾞｲｽがありません");
    }
  }
  // Unchecked queries go to the driver, fail there, and answer "nothing to do".
  EXPECT_EQ(device.Device_Mode(), Mode_Not_Ready);
  EXPECT_EQ(device.Device_Position(), 0u);
  EXPECT_EQ(device.Last_Error(), static_cast<std::int32_t>(MCIERR_INVALID_DEVICE_ID));
  device.Device_Close();  // identifier 0: nothing is sent
}

TEST(DeviceOpen, OpenSequenceAndCloseOnDestruction) {
  auto simulated = std::make_shared<SimulatedDriver>(SimulatedDriver::MakeDisc({60}));
  SimulatedDriver* sim = simulated.get();
  {
    CdAudioDevice device(std::make_unique<SharedDriver>(simulated));
    device.Loaded();
    EXPECT_TRUE(device.Is_Open());
    EXPECT_NE(device.Device_ID(), 0);
    EXPECT_EQ(device.Device_Time_Format(), MCI_FORMAT_TMSF);
    const auto& log = sim->log();
    ASSERT_GE(log.size(), 9u);
    EXPECT_EQ(log[0].command, MCI_OPEN);
    EXPECT_EQ(log[0].flags, MCI_WAIT | MCI_OPEN_TYPE);
    EXPECT_EQ(log[0].params.deviceType, "CDAudio");
    EXPECT_EQ(log[1].command, MCI_STATUS);
    EXPECT_EQ(log[1].params.item, MCI_STATUS_LENGTH);
    const std::uint32_t caps[] = {8, 1, 7, 3, 4};
    for (int i = 0; i < 5; ++i) {
      EXPECT_EQ(log[2 + i].command, MCI_GETDEVCAPS);
      EXPECT_EQ(log[2 + i].flags, 0x102u);
      EXPECT_EQ(log[2 + i].params.item, caps[i]);
    }
    EXPECT_EQ(log[7].command, MCI_WHERE);
    EXPECT_EQ(log[7].flags, 0x20000u);
    EXPECT_EQ(log[8].command, MCI_SET);
    EXPECT_EQ(log[8].flags, 0x401u);
    EXPECT_EQ(log[8].params.timeFormat, MCI_FORMAT_TMSF);
    sim->clearLog();
  }
  ASSERT_EQ(sim->log().size(), 1u);
  EXPECT_EQ(sim->log()[0].command, MCI_CLOSE);
  EXPECT_EQ(sim->log()[0].flags, MCI_WAIT);
}

TEST_F(DeviceTest, NextWhilePlayingCarriesNotifyAndFromThenTheNextStopDoesNotWait) {
  device->Device_Play();
  sim->advance(10s);
  sim->clearLog();

  device->Device_Set_Wait(true);
  device->Device_Next();
  (void)device->Device_Position();
  device->Device_Set_Wait(false);

  auto cmds = Commands();
  ASSERT_EQ(cmds.size(), 1u);
  EXPECT_EQ(cmds[0].command, MCI_PLAY);
  EXPECT_EQ(cmds[0].flags, MCI_NOTIFY | MCI_FROM);
  EXPECT_EQ(cmds[0].params.from, TrackStart(2));
  EXPECT_TRUE(sim->isPlaying());
  EXPECT_EQ(tmsf::Track(device->Device_Position()), 2);

  sim->clearLog();
  device->Device_Stop();
  device->Device_Stop();
  cmds = Commands();
  ASSERT_EQ(cmds.size(), 2u);
  EXPECT_EQ(cmds[0].flags, 0u) << "the pending Wait(false) is consumed by the first stop";
  EXPECT_EQ(cmds[1].flags, MCI_WAIT);

  // A Play after that runs as by default.
  sim->clearLog();
  device->Device_Play();
  cmds = Commands();
  ASSERT_EQ(cmds.size(), 1u);
  EXPECT_EQ(cmds[0].flags, MCI_NOTIFY);
}

TEST_F(DeviceTest,
       NextWhileStoppedSeeksWithTheConsumedWaitAndLeavesWaitFalsePendingForSeekOrEject) {
  device->Device_Set_Wait(true);
  device->Device_Next();
  device->Device_Set_Wait(false);
  device->Device_Seek(TrackStart(4));
  device->Device_Seek(TrackStart(5));
  auto cmds = Commands();
  ASSERT_EQ(cmds.size(), 3u);
  EXPECT_EQ(cmds[0].command, MCI_SEEK);
  EXPECT_EQ(cmds[0].flags, MCI_WAIT | MCI_TO);
  EXPECT_EQ(cmds[0].params.to, TrackStart(2));
  EXPECT_EQ(cmds[1].flags, MCI_TO);
  EXPECT_EQ(cmds[2].flags, MCI_WAIT | MCI_TO);
  EXPECT_FALSE(sim->isPlaying());

  sim->clearLog();
  device->Device_Set_Wait(true);
  device->Device_Previous();
  device->Device_Set_Wait(false);
  device->Device_Eject();
  cmds = Commands();
  ASSERT_EQ(cmds.size(), 2u);
  EXPECT_EQ(cmds[1].command, MCI_SET);
  EXPECT_EQ(cmds[1].flags, MCI_SET_DOOR_OPEN);
  EXPECT_EQ(device->Device_Mode(), Mode_Open);
}

TEST_F(DeviceTest, NotifyOverrideAndStatusQueriesLeaveOverridesAlone) {
  device->Device_Set_Notify(false);
  device->Device_Set_Wait(true);
  (void)device->Device_Mode();
  (void)device->Device_Position();
  device->Device_Set_Time_Format(MCI_FORMAT_TMSF);
  device->Device_Play();
  auto cmds = Commands();
  ASSERT_EQ(cmds.back().command, MCI_PLAY);
  EXPECT_EQ(cmds.back().flags, MCI_WAIT);

  sim->clearLog();
  device->Device_Set_Notify(true);
  device->Device_Stop();
  cmds = Commands();
  EXPECT_EQ(cmds.back().flags, MCI_WAIT | MCI_NOTIFY);
}

TEST_F(DeviceTest, NextAndPreviousTargets) {
  auto seekTarget = [&] {
    auto cmds = Commands();
    EXPECT_FALSE(cmds.empty());
    return cmds.empty() ? 0u
                        : (cmds.back().command == MCI_PLAY ? cmds.back().params.from
                                                           : cmds.back().params.to);
  };
  // Next on the last track stays on the last track.
  device->Device_Seek(tmsf::Make(5, 0, 30, 0));
  sim->clearLog();
  device->Device_Next();
  EXPECT_EQ(seekTarget(), TrackStart(5));

  // Previous within the first second (frames ignored) goes back one track...
  device->Device_Seek(tmsf::Make(5, 0, 0, 74));
  sim->clearLog();
  device->Device_Previous();
  EXPECT_EQ(seekTarget(), TrackStart(4));
  // ...from one second in it returns to the start of the current track...
  device->Device_Seek(tmsf::Make(5, 0, 1, 0));
  sim->clearLog();
  device->Device_Previous();
  EXPECT_EQ(seekTarget(), TrackStart(5));
  // ...and on track 1 always to the start of track 1.
  device->Device_Seek(tmsf::Make(1, 0, 0, 0));
  sim->clearLog();
  device->Device_Previous();
  EXPECT_EQ(seekTarget(), TrackStart(1));

  // While playing both keep playing at the target.
  device->Device_Seek(tmsf::Make(3, 0, 0, 10));
  device->Device_Play();
  sim->clearLog();
  device->Device_Previous();
  EXPECT_EQ(Commands().back().command, MCI_PLAY);
  EXPECT_EQ(seekTarget(), TrackStart(2));
  EXPECT_TRUE(sim->isPlaying());
}

TEST_F(DeviceTest, ModeMappingUsesTheLowByteMinusTwelve) {
  struct {
    std::uint32_t answer;
    std::uint8_t mode;
  } cases[] = {{524, 0}, {525, 1}, {526, 2}, {527, 3},          {528, 4},
               {529, 5}, {530, 6}, {0, 244}, {0x10000 + 526, 2}};
  for (auto c : cases) {
    sim->forceStatusAnswer(MCI_STATUS_MODE, c.answer);
    EXPECT_EQ(device->Device_Mode(), c.mode) << c.answer;
  }
  sim->forceStatusAnswer(MCI_STATUS_MODE, std::nullopt);
  sim->forceMode(MCI_MODE_PAUSE);
  EXPECT_EQ(device->Device_Mode(), Mode_Paused);
}

TEST_F(DeviceTest, AutoRewindWhenThePositionEqualsTheLength) {
  sim->forceStatusAnswer(MCI_STATUS_POSITION, 0x00050403);
  sim->forceStatusAnswer(MCI_STATUS_LENGTH, 0x00050403);
  device->Device_Play();
  auto cmds = Commands();
  ASSERT_EQ(cmds.size(), 2u);
  EXPECT_EQ(cmds[0].command, MCI_SEEK);
  EXPECT_EQ(cmds[0].flags, MCI_SEEK_TO_START | MCI_WAIT);
  EXPECT_EQ(cmds[1].command, MCI_PLAY);

  // A pending From position skips the check.
  sim->clearLog();
  device->Device_Set_From(TrackStart(2));
  device->Device_Play();
  cmds = Commands();
  ASSERT_EQ(cmds.size(), 1u);
  EXPECT_EQ(cmds[0].flags, MCI_NOTIFY | MCI_FROM);
}

TEST_F(DeviceTest, EjectWithoutTheCapabilitySendsNothing) {
  auto driver = std::make_unique<SimulatedDriver>(SimulatedDriver::MakeDisc({60}));
  driver->setCanEject(false);
  SimulatedDriver* s = driver.get();
  CdAudioDevice d(std::move(driver));
  d.Loaded();
  EXPECT_FALSE(d.Can_Eject());
  s->clearLog();
  d.Device_Eject();
  EXPECT_TRUE(s->log().empty());
}

TEST_F(DeviceTest, LastErrorRecordsRefusalsButNotTrackPositionsOrIdentity) {
  sim->openTray();
  device->Device_Play();
  EXPECT_NE(device->Last_Error(), 0);
  sim->closeTray();
  (void)device->Device_Mode();
  EXPECT_EQ(device->Last_Error(), 0);
  (void)device->Device_Track_Position(42);  // refused, but not recorded
  EXPECT_EQ(device->Last_Error(), 0);
  sim->failIdentity(true);
  EXPECT_FALSE(device->Device_Disc_Identity().has_value());
  EXPECT_EQ(device->Last_Error(), 0);
  sim->failIdentity(false);
  EXPECT_EQ(device->Device_Disc_Identity(), sim->disc()->IdentityText());
}

TEST_F(DeviceTest, PlayRunsToTheEndOfTheDiscAndStops) {
  device->Device_Seek(TrackStart(5));
  device->Device_Play();
  EXPECT_EQ(device->Device_Mode(), Mode_Playing);
  sim->advance(89s);
  EXPECT_EQ(device->Device_Mode(), Mode_Playing);
  sim->advance(2s);
  EXPECT_EQ(device->Device_Mode(), Mode_Stopped);
  EXPECT_EQ(device->Device_Position(), tmsf::Make(5, 1, 30, 0));
}

}  // namespace
