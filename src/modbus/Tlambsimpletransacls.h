#pragma once
// The single-request transactions:
// - TlaMBSimpleTransa and its three register transactions: read holding
//   registers (3), write single register (6), write multiple registers (16),
//   each over one register range bound to one TlaThreadBuffer (normally a
//   segment of the owner device's register image). Register data stay in
//   Modbus byte order from the wire to the buffer.
// - TlaMBDeviceVersion: device identification (0x41) into a version record.
// - TlaMBDataModelScan: identification, data-model information (0x42) and
//   every data-model entry (0x43), up to a requested level, with progress.
#include <atomic>
#include <cstdint>
#include <memory>
#include <mutex>
#include <string>
#include <vector>

#include "Tlambtransactioncls.h"
#include "Tlathreadbuffercls.h"
#include "Tlaversionrecordcls.h"

class TlaMBSimpleTransa : public TlaMBTransaction {
 public:
  // Owner device: the range over a segment of its image (SetRange without buffer).
  TlaMBSimpleTransa(TlaMBDevice* owner, std::uint16_t address, std::uint16_t count);
  // No owner: the range over `buffer` (taken over; may be null).
  TlaMBSimpleTransa(std::uint8_t slaveAddress, std::uint16_t address, std::uint16_t count,
                    std::unique_ptr<TlaThreadBuffer> buffer, int period);
  ~TlaMBSimpleTransa() override;

  // Count 0 becomes 1. With a buffer: the range and that buffer. Without one,
  // when the owner is a device: the range and a new segment of its image
  // (null when the range lies outside it). Otherwise nothing changes. The
  // replaced buffer is freed. Waits for a pass of the owner (device or
  // worker) that may be running the transaction.
  void SetRange(std::uint16_t address, std::uint16_t count, std::unique_ptr<TlaThreadBuffer> buffer = nullptr);

  std::uint16_t GetAddress() const { return Address; }
  std::uint16_t GetCount() const { return Count; }
  TlaThreadBuffer* GetBuffer() const { return Buffer.get(); }

  void Notify() override;  // OnError(LastResult) or OnDone(0)
  void Progress(int, int) override {}
  void Cancel() override {}
  void OwnerChanged() override;  // device owner: SetRange(Address, Count) over its image

  TlaTransaEvent OnDone;
  TlaTransaEvent OnError;

 protected:
  friend class TlaMBChainedTransa;  // rebinds its pieces
  std::uint16_t Address = 0;
  std::uint16_t Count = 1;
  std::unique_ptr<TlaThreadBuffer> Buffer;
};

class TlaMBReadHoldRegisters : public TlaMBSimpleTransa {
 public:
  TlaMBReadHoldRegisters(TlaMBDevice* owner, std::uint16_t address, std::uint16_t count);
  TlaMBReadHoldRegisters(std::uint8_t slaveAddress, std::uint16_t address, std::uint16_t count,
                         std::unique_ptr<TlaThreadBuffer> buffer, int period);
  ~TlaMBReadHoldRegisters() override;

  // Function 3; no buffer: -3 (nothing sent); the answer's byte count must
  // equal the buffer size (-2, buffer untouched). The buffer is compared
  // (DataChanged) and then written, each under the image lock.
  std::int32_t Execute(TModbusSrv& server) override;
  void Notify() override;  // OnDone gets DataChanged (1 or 0)
  void UpdateName() override;  // "ReadHold[slave:address:count]"

  bool GetDataChanged() const { return dataChanged_.load(); }

 private:
  std::atomic<bool> dataChanged_{false};
};

class TlaMBWriteSingleRegister : public TlaMBSimpleTransa {
 public:
  TlaMBWriteSingleRegister(TlaMBDevice* owner, std::uint16_t address);
  ~TlaMBWriteSingleRegister() override;
  // Function 6: slave, 6, address, then the whole buffer; no buffer: -3.
  std::int32_t Execute(TModbusSrv& server) override;
  void UpdateName() override;  // "WriteSingle[slave:address]"
};

class TlaMBWriteMultRegisters : public TlaMBSimpleTransa {
 public:
  TlaMBWriteMultRegisters(std::uint8_t slaveAddress, std::uint16_t address, std::uint16_t count,
                          std::unique_ptr<TlaThreadBuffer> buffer, int period);
  ~TlaMBWriteMultRegisters() override;
  // Function 16 with the whole buffer; no buffer: -3.
  std::int32_t Execute(TModbusSrv& server) override;
  void UpdateName() override;  // "WriteMult[slave:address:count]"
};

// ---------------------------------------------------------------------------
// Identification and data-model scan.

// The 0x42 answer: the first word and the number of data-model entries.
struct TlaMBDataModelInfo {
  std::uint16_t First = 0;
  std::uint16_t Count = 0;
};
// One 0x43 answer: its two words in answer order.
struct TlaMBDataModelEntry {
  std::uint16_t Word1 = 0;
  std::uint16_t Word2 = 0;
};

// Answer checks of the three device functions (answers as the server gives
// them: slave, function, data). 0 and the record filled, or -2 when the
// answer is not of the exact size (the record is then left as it was).
std::int32_t TakeIdentification(const std::vector<std::uint8_t>& answer, TlaVersionRecord& record);  // 12 bytes
std::int32_t TakeDataModelInfo(const std::vector<std::uint8_t>& answer, TlaMBDataModelInfo& info);   // 6 bytes
std::int32_t TakeDataModelEntry(const std::vector<std::uint8_t>& answer, TlaMBDataModelEntry& entry);  // 6 bytes

class TlaMBDeviceVersion : public TlaMBTransaction {
 public:
  // Owned by the device; SetPeriod(period) when period is not 0.
  TlaMBDeviceVersion(TlaMBDevice* owner, int period);
  ~TlaMBDeviceVersion() override;

  std::int32_t Execute(TModbusSrv& server) override;  // Valid := the identification succeeded
  void Notify() override;                             // OnError(LastResult) or OnDone(0)
  void Progress(int, int) override {}
  void Cancel() override {}
  void OwnerChanged() override;  // Valid := false
  void UpdateName() override;    // "DeviceInfo[slave]"

  bool GetValid() const { return valid_.load(); }
  TlaVersionRecord GetVersion() const;  // a copy, taken under the record's lock
  std::string GetFullString() const;
  std::string GetModelString() const;
  std::string GetVersionString() const;  // decimal form ("1.05")

  TlaTransaEvent OnDone;
  TlaTransaEvent OnError;

 private:
  mutable std::mutex lock_;  // guards version_ (written by the worker, read by the main thread)
  TlaVersionRecord version_;
  std::atomic<bool> valid_{false};
};

class TlaMBDataModelScan : public TlaMBTransaction {
 public:
  // Owned by the device; SetPeriod(period) when period is not 0; one-shot on success.
  TlaMBDataModelScan(TlaMBDevice* owner, int period);
  ~TlaMBDataModelScan() override;

  // Level 1 identification, 2 also the data-model information, 3 also every
  // entry. DisableOnError := (level >= 2); activates.
  void Start(int level);
  // Only while no run is requested and level < ReachedLevel: ReachedLevel :=
  // level and the entries are dropped.
  void LowerLevel(int level);

  // Climbs to the requested level; stops at the first failure. Progress
  // (entry + 1, Count) is posted after every entry, the failed one included.
  std::int32_t Execute(TModbusSrv& server) override;
  void Notify() override;                          // OnDone(LastResult), success or failure
  void Progress(int position, int total) override;  // OnProgress
  void Cancel() override {}
  void OwnerChanged() override;  // LowerLevel(0)
  void UpdateName() override;    // "DataModelScan[slave]"

  int GetRequestedLevel() const { return requestedLevel_.load(); }
  int GetReachedLevel() const { return reachedLevel_.load(); }
  int GetEntriesRead() const { return entriesRead_.load(); }
  // Copies taken under the data lock.
  TlaVersionRecord GetVersion() const;
  TlaMBDataModelInfo GetInfo() const;
  std::vector<TlaMBDataModelEntry> GetEntries() const;  // Count entries once level 3 ran, else none

  TlaTransaEvent OnDone;
  TlaTransaProgressEvent OnProgress;

 private:
  std::atomic<std::int8_t> requestedLevel_{0};
  std::atomic<std::int8_t> reachedLevel_{0};
  std::atomic<std::uint16_t> entriesRead_{0};
  mutable std::mutex lock_;  // guards the three below
  TlaVersionRecord version_;
  TlaMBDataModelInfo info_;
  std::vector<TlaMBDataModelEntry> entries_;
};
