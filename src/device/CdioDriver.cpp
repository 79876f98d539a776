#include "device/CdioDriver.h"

// Placeholder until the libcdio back end lands: every open fails with a clear text.
struct CdioDriver::Impl {
  std::string device;
};

CdioDriver::CdioDriver(std::string device) : impl_(std::make_unique<Impl>()) {
  impl_->device = std::move(device);
}
CdioDriver::~CdioDriver() = default;
bool CdioDriver::insertImage(const std::string&, std::string* error) {
  if (error) *error = "not supported";
  return false;
}
std::uint32_t CdioDriver::openTransport() { return mci::MCIERR_CANNOT_LOAD_DRIVER; }
void CdioDriver::closeTransport() {}
TransportDriver::Snapshot CdioDriver::snapshot() const { return {}; }
std::uint32_t CdioDriver::play(std::int32_t) { return mci::MCIERR_DEVICE_NOT_READY; }
std::uint32_t CdioDriver::stop() { return mci::MCIERR_DEVICE_NOT_READY; }
std::uint32_t CdioDriver::seek(std::int32_t) { return mci::MCIERR_DEVICE_NOT_READY; }
std::uint32_t CdioDriver::openDoor() { return mci::MCIERR_DEVICE_NOT_READY; }
std::uint32_t CdioDriver::closeDoor() { return mci::MCIERR_DEVICE_NOT_READY; }
bool CdioDriver::canEject() const { return false; }
std::string CdioDriver::transportErrorText(std::uint32_t code) const {
  return code == mci::MCIERR_CANNOT_LOAD_DRIVER
             ? (impl_->device.empty() ? "the default CD drive" : impl_->device) +
                   ": CD drives and images are not supported yet"
             : std::string{};
}
