#pragma once
// TlaQZCollection: the device collection for moulding machines. It loads and
// keeps its devices as the general collection does; each device it makes is
// a TlaQZMachine.
#include <memory>
#include <string>

#include "Tladevicecollectioncmp.h"

class TlaQZCollection : public TlaDeviceCollection {
 public:
  explicit TlaQZCollection(kd::Component* owner = nullptr);
  ~TlaQZCollection() override;
  std::string ClassName() const override { return "TlaQZCollection"; }

  // A new TlaQZMachine with the given owner component.
  std::unique_ptr<TlaDeviceSlave> AllocNewDevice(kd::Component* owner) override;
};
