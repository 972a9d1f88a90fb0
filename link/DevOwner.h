// What the engine needs of the window that owns it: a place to report a completed answer.
// The panel base implements it; the engine never sees a widget.
#pragma once

namespace qv {

class DevOwner {
  public:
    virtual ~DevOwner() = default;
    // Called with 1 by the USB reader thread when an answer is complete; may run on any
    // thread, so implementations only store the flag.
    virtual void OnResponseReady(int flag) = 0;

  protected:
    DevOwner() = default;
    DevOwner(const DevOwner&) = default;
    DevOwner& operator=(const DevOwner&) = default;
};

}  // namespace qv
