#pragma once
// Event closures: a callable that may be unassigned; test it before the call.
//   kd::Event<void(TlaRegister* sender)> OnChange;
//   if (OnChange) OnChange(this);
#include <functional>

namespace kd {

template <class Signature>
using Event = std::function<Signature>;

}  // namespace kd
