#pragma once

#include <QIcon>

namespace velto {

// The square "waveform" symbol of the status item, drawn so that no image file is needed.
QIcon makeStatusIcon();

}  // namespace velto
