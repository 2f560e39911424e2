#pragma once

#include <QIcon>

namespace velto {

// The square "waveform" symbol of the status item, drawn so that no image file is needed and
// so that it reads on light and dark tray panels alike.
QIcon makeStatusIcon();

}  // namespace velto
