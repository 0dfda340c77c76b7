#pragma once
// TlaMBChainedTransa: a whole register category of a device read or written
// as one transaction. The category's runs are cut so that each request fits
// the device's buffer limit (MaxBufferSize - 5 bytes); each piece is an
// inactive read (3) or write (16) over the matching segment of the device's
// image, and one run executes the pieces in order until one fails.
//
// Building: a run larger than the limit is split in two and each half is
// looked at again; a run of one register larger than the limit stays one
// piece; a run that reaches past the data model is not cut (its piece has no
// buffer and ends in -3). The chain stops at a block that is not valid.
//
// Locks: Execute holds the parts' lock inside the device's list lock;
// OwnerChanged and the destructor take it on the main thread.
#include <cstdint>
#include <memory>
#include <string>
#include <vector>

#include "ThreadList.h"
#include "Tlambsimpletransacls.h"
#include "Tlaregdefslistcmp.h"

class TlaMBChainedTransa : public TlaMBTransaction {
 public:
  enum Mode { Read = 1, Write = 2 };  // any value other than 2 reads

  // Owned by `owner`; the blocks of its data model's `category` (none when
  // the device has no model or the category is empty).
  TlaMBChainedTransa(TlaMBDevice* owner, const std::string& category, int mode);
  ~TlaMBChainedTransa() override;

  std::int32_t Execute(TModbusSrv& server) override;  // the pieces in order; the first failure stops
  void Notify() override;                             // OnError(LastResult) or OnDone(0)
  void Progress(int, int) override {}
  void Cancel() override {}
  void OwnerChanged() override;  // every piece over the new device's image
  void UpdateName() override;    // "TlaMBChainedTransa[slave]"

  struct PartRange {
    std::uint16_t Address = 0;
    std::uint16_t Count = 0;
    bool operator==(const PartRange&) const = default;
  };
  int GetPartCount() { return Parts.Count(); }
  std::vector<PartRange> GetPartRanges();  // the pieces' ranges, in order
  const TlaRegBlock* GetBlocks() const { return Blocks.get(); }

  TlaTransaEvent OnDone;
  TlaTransaEvent OnError;

 private:
  void Build(TlaRegBlock* blocks, int mode);

  std::unique_ptr<TlaRegBlock> Blocks;
  kd::ThreadList<std::unique_ptr<TlaMBSimpleTransa>> Parts;
};
