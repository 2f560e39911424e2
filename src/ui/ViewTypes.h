#pragma once

namespace velto {

class Theme;

// Makes the C++ side of the views known to QML under "import Velto". The theme must outlive
// every engine; call once, before the first engine loads a view.
void registerViewTypes(Theme* theme);

}  // namespace velto
