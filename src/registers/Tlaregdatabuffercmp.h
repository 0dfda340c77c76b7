#pragma once
// TlaRegDataBuffer: the register image of one device or program: one owning
// TlaThreadBuffer holding every register of a data model back to back (Modbus
// byte order) and one TlaRegister per definition over its slice. Every
// segment shares the image's one lock.
#include <cstdint>
#include <memory>
#include <string>
#include <vector>

#include "Component.h"
#include "Tlaregdefslistcmp.h"
#include "Tlaregistercls.h"
#include "Tlathreadbuffercls.h"

class TlaRegDataBuffer : public kd::Component {
 public:
  explicit TlaRegDataBuffer(kd::Component* owner = nullptr);
  ~TlaRegDataBuffer() override;
  std::string ClassName() const override { return "TlaRegDataBuffer"; }

  // Builds the image; false (nothing done) for a null list or when an image
  // exists, and false (image left empty) when building fails.
  bool CreateRegDataBuffer(TlaRegDefsList* list);
  void DestroyRegDataBuffer();

  // A new segment over count registers from first; null when the image is not
  // built or the run is empty or leaves the model. Must not outlive the image.
  std::unique_ptr<TlaThreadBuffer> BufferSegment(std::uint16_t first, std::uint16_t count) const;
  TlaRegister* GetRegister(int index) const;  // null when not below GetRegisterCount
  TlaRegister* GetRegister(const std::string& name) const;  // exact name, lowest index
  int GetBufferSize() const;
  int GetRegisterCount() const;

  TlaRegDefsList* RegDefs() const { return regDefs_; }
  TlaThreadBuffer* DataBuffer() const { return dataBuffer_.get(); }

 private:
  TlaRegDefsList* regDefs_ = nullptr;  // not owned (the data-model collection's owner owns it)
  std::unique_ptr<TlaThreadBuffer> dataBuffer_;
  std::vector<std::unique_ptr<TlaRegister>> registers_;
};
