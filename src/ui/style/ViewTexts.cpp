#include "ui/style/ViewTexts.h"

#include <algorithm>

namespace velto {

double ViewTexts::placeholderSize(double side) { return std::max(side * 0.28, 14.0); }

}  // namespace velto
