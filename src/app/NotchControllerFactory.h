#pragma once

#include <memory>

#include "app/NotchController.h"

namespace velto {

class MacAppModel;

// Makes the notch controller for the model, which it refers to without owning.
class NotchControllerFactory {
  public:
    virtual ~NotchControllerFactory() = default;
    virtual std::unique_ptr<NotchController> make(MacAppModel& model) = 0;
    // Its views leave garbage with each change of what plays, which their script engine keeps
    // until its heap has grown well past what lives; collected before freed memory goes back.
    virtual void collectGarbage() {}
};

}  // namespace velto
