#include "Tlaqzcollectioncmp.h"

#include "Tlaqzmachinecmp.h"

TlaQZCollection::TlaQZCollection(kd::Component* owner) : TlaDeviceCollection(owner) {}

TlaQZCollection::~TlaQZCollection() = default;

std::unique_ptr<TlaDeviceSlave> TlaQZCollection::AllocNewDevice(kd::Component* owner) {
  return std::make_unique<TlaQZMachine>(owner);
}
