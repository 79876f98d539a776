#pragma once
// So that the test keeps moving the drive's clock and reading its log after the window is gone.
#include <memory>

#include "device/SimulatedDriver.h"

class SharedDriver : public CdDriver {
 public:
  explicit SharedDriver(std::shared_ptr<SimulatedDriver> sim) : sim_(std::move(sim)) {}
  std::uint32_t send(std::uint16_t command, std::uint32_t flags, MciParams& params) override {
    return sim_->send(command, flags, params);
  }
  std::uint32_t sendString(std::string_view command, std::string& answer) override {
    return sim_->sendString(command, answer);
  }
  std::string errorText(std::uint32_t code) const override { return sim_->errorText(code); }
  std::optional<DiscText> discText() const override { return sim_->discText(); }
  std::shared_ptr<const DiscToc> discToc() const override { return sim_->discToc(); }

 private:
  std::shared_ptr<SimulatedDriver> sim_;
};
