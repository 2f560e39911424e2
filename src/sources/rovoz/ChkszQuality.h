#pragma once

#include <nlohmann/json.hpp>

#include "sources/model/Quality.h"

namespace velto {

// The quality a RoVOz record says it delivered, from its "bitrate" (a size name such as
// "320k" or "flac", or bits per second) and else its "format"; standard when neither tells.
Quality chkszQuality(const nlohmann::json& record);

}  // namespace velto
