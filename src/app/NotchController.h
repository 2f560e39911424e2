#pragma once

namespace velto {

// The notch player's window as the application model drives it.
class NotchController {
  public:
    virtual ~NotchController() = default;
    // On shows the panel (made once); off hides it and forgets its expanded and pinned state.
    virtual void setEnabled(bool enabled) = 0;
    // When enabled, opens the panel expanded; with `keyboard` it also takes keyboard focus.
    virtual void expand(bool keyboard) = 0;
};

}  // namespace velto
