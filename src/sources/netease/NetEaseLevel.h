#pragma once

#include "sources/model/Quality.h"

namespace velto {

// The NetEase "level" that asks for `quality` ("standard", "exhigh", "lossless", "hires",
// "jymaster"); the web client and the RoVOz API take the same names.
const char* netEaseLevelName(Quality quality);

}  // namespace velto
