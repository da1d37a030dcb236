#include "bridge/PageChannel.h"

#include "bridge/Bridge.h"

namespace veldra {

void PageChannel::post(const std::string& type, const nlohmann::json& payload) const {
  if (bridge_) bridge_->send(type, payload);
}

}  // namespace veldra
