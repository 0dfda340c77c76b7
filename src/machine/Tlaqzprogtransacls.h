#pragma once
// The program transfers between a moulding machine and the register image of
// its device (the owner device of each transaction):
// - TlaQZActProgRAM reads the program the machine is running: its number
//   (mode 1), also its header ("ActProgHeader", mode 2), or the whole program
//   ("ActProgram", mode 3);
// - TlaQZProgEEProm is the base of the two that work on stored program slots
//   (EEPROM slots first, then the memory box): it selects a slot with a
//   handshake: "NewSelProgEE" := slot + 1, then "ActSelProgEE" is read until
//   the machine confirms the same value, or until SelectTimeoutMs has passed.
//   The handshake waits between the worker's passes, not inside one: a run
//   that finds the slot not yet confirmed ends its pass (ContinueNextPass)
//   and looks again at the next, so no lock of the worker or the device is
//   held while the machine takes its time. One slot transfer of a machine
//   runs at a time; another one asked meanwhile waits for it, pass by pass;
// - TlaQZProgHeaders reads the header texts of a range of slots;
// - TlaQZProgMove copies one slot from the machine into the image (mode 1),
//   from the image to the machine (mode 2), or compares the two (mode 3).
//
// A category moves block by block; a block of MaxBufferSize - 5 bytes or more
// is cut in two first. Progress (registers done, registers of the category)
// is posted after each block, (slot done, slots asked) after each header.
// What is read for the image is kept aside and taken into it, under one
// write lock, only once every block has come: a read that fails or is
// aborted part-way leaves the image as it was.
//
// All are one-shot transactions owned by the device. Execute runs on the
// worker inside the device's pass; the image is touched only under its lock;
// the setters are ignored while a transfer runs. A transfer that is asked for
// and not over when its machine loses the line is cancelled (CancelPending,
// by the machine): it is not run later unless it is asked for again.
#include <atomic>
#include <chrono>
#include <cstdint>
#include <memory>
#include <mutex>
#include <string>
#include <utility>
#include <vector>

#include "Tlambtransactioncls.h"
#include "Tlaregdefslistcmp.h"

class TlaMBDevice;
class TlaThreadBuffer;

// The program slots of a data model: the integer "ProgCountEE" or
// "ProgCountBOX" of its add-on information; 0 when missing, not a number or
// negative, or without a model.
int QZProgCount(const TlaRegDefsList* model, const char* key);

// What the transfers share: the category rule, the reads kept aside, the
// cancellation.
class TlaQZTransfer : public TlaMBTransaction {
 public:
  using TlaMBTransaction::TlaMBTransaction;

  // Under the owner's transaction-list lock (so that no run of it goes on):
  // a transfer that is asked for and not over is dropped: inactive, its run
  // state cleared, WM_USER+3 posted (Cancel, OnCancel). True when there was one.
  virtual bool CancelPending() = 0;

 protected:
  enum class Way {
    Take,     // read for the image (into `staged`)
    Compare,  // read and compare only
    Send,     // write the image's registers (function 16)
  };
  // Image bytes read and not yet taken: (image offset, bytes).
  struct Staged {
    std::vector<std::pair<int, std::vector<std::uint8_t>>> pieces;
    // Every piece into the device's image, under one write lock.
    void TakeInto(TlaMBDevice& device) const;
  };
  // Reads count registers from first: the answer is compared with the image
  // (differs) and, for Take, kept in staged.
  std::int32_t ReadBlock(TModbusSrv& server, TlaMBDevice& device, std::uint16_t first,
                         std::uint16_t count, Way way, Staged* staged, bool& differs);
  // Every block of the device's category in chain order; stops at the first
  // failure, or with -8 when *abort is set. A read sets differs when a
  // block's answer differs from the image; Take keeps the answers in staged.
  std::int32_t TransferCategory(TModbusSrv& server, TlaMBDevice& device,
                                const std::string& category, Way way, Staged* staged,
                                bool& differs, const std::atomic<bool>* abort = nullptr);
};

class TlaQZActProgRAM : public TlaQZTransfer {
 public:
  explicit TlaQZActProgRAM(TlaMBDevice* owner);
  ~TlaQZActProgRAM() override;

  // Mode 1 the program number, 2 also the header, 3 the whole program; activates.
  void StartRequest(std::int8_t mode);
  // Without an owner device -8. "ActNumProg", then the mode's category, into
  // the image (all of it or, after a failure, nothing); LastMode := Mode on
  // success, else 0; Mode := 0.
  std::int32_t Execute(TModbusSrv& server) override;
  bool CancelPending() override;  // also Mode := 0
  void Notify() override;                           // OnDone(LastResult), success or failure
  void Progress(int position, int total) override;  // OnProgress
  void Cancel() override;                           // OnCancel(0)
  void OwnerChanged() override;                     // LastMode := 0
  void UpdateName() override;                       // "ActProgRAM[slave]"

  std::int8_t GetMode() const { return mode_.load(); }
  std::int8_t GetLastMode() const { return lastMode_.load(); }

  TlaTransaEvent OnDone;
  TlaTransaProgressEvent OnProgress;
  TlaTransaEvent OnError;  // kept, not called: OnDone gets failures too
  TlaTransaEvent OnCancel;

 private:
  std::atomic<std::int8_t> mode_{0};
  std::atomic<std::int8_t> lastMode_{0};
};

class TlaQZProgEEProm : public TlaQZTransfer {
 public:
  // The addresses of "NewSelProgEE" and "ActSelProgEE" are taken from the
  // owner's data model now; without them SelectProg gives -3.
  explicit TlaQZProgEEProm(TlaMBDevice* owner);
  ~TlaQZProgEEProm() override;

  // Without an owner device, or while another Execute of it runs: -8. Else
  // Running from the first run of a transfer (Abort cleared) to its end;
  // LastOk := its result is 0 and no Abort came. A run whose DoExecute gives
  // kSelectPending, or that finds another slot transfer of the machine
  // running, continues at the next pass.
  std::int32_t Execute(TModbusSrv& server) final;
  bool CancelPending() override;
  void Notify() override;                           // OnError(LastResult) or OnDone(0)
  void Progress(int position, int total) override;  // OnProgress
  void Cancel() override;                           // OnCancel(0)
  void OwnerChanged() override;                     // LastOk := false
  void UpdateName() override;                       // "SelProgEE[slave]"

  // The transfer body (worker). Resuming() tells a run that goes on with the
  // transfer (after kSelectPending) from the first one.
  virtual std::int32_t DoExecute(TModbusSrv& server) = 0;
  virtual void Reset();  // LastOk := false

  // Worker: selects a slot on the machine. -8 for a slot past the slots of
  // the data model (nothing sent), when Abort is set, or when the machine
  // has not confirmed within SelectTimeoutMs; kSelectPending while it has
  // not confirmed yet (call again at the next pass: the same slot is only
  // looked at again); else 0 or the first failure.
  std::int32_t SelectProg(TModbusSrv& server, int slot);
  static constexpr std::int32_t kSelectPending = 1;

  bool GetRunning() const { return running_.load(); }
  bool GetLastOk() const { return lastOk_.load(); }
  std::uint16_t GetNewSelAddress() const { return newSelAddress_; }
  std::uint16_t GetActSelAddress() const { return actSelAddress_; }

  // Ends a running transfer between exchanges, with -8 (OnError).
  std::atomic<bool> Abort{false};
  // How long the machine may take to confirm a selection.
  std::atomic<int> SelectTimeoutMs{10000};

  TlaTransaEvent OnDone;
  TlaTransaProgressEvent OnProgress;
  TlaTransaEvent OnError;
  TlaTransaEvent OnCancel;

 protected:
  void SetLastOk(bool ok) { lastOk_ = ok; }
  bool Resuming() const { return resuming_.load(); }

 private:
  // Another slot transfer of the owner is running (worker, within the pass).
  bool SlotsTaken() const;
  void EndTransfer();

  std::atomic<bool> running_{false};
  std::atomic<bool> executing_{false};  // inside Execute
  std::atomic<bool> lastOk_{false};
  std::atomic<bool> resuming_{false};
  bool hasSelect_ = false;
  std::uint16_t newSelAddress_ = 0;
  std::uint16_t actSelAddress_ = 0;
  // The selection that waits for the machine: its slot (-1 none) and
  // deadline (worker; the slot is also cleared where a transfer ends).
  std::atomic<int> selSlot_{-1};
  std::chrono::steady_clock::time_point selDeadline_;
};

struct str_ProgHeader {
  std::string Name;
  std::string Client;
  std::string Material;
  std::string Date;
  bool operator==(const str_ProgHeader&) const = default;
};

class TlaQZProgHeaders : public TlaQZProgEEProm {
 public:
  // SlotCount from the owner's data model; FirstProg 0, LastProg SlotCount - 1.
  explicit TlaQZProgHeaders(TlaMBDevice* owner);
  ~TlaQZProgHeaders() override;

  // Selects each slot from FirstProg to LastProg and reads its header (the
  // first block of "EEProgHeader"); stops at the first failure or Abort (-8).
  // LastProg becomes the last slot whose selection succeeded.
  std::int32_t DoExecute(TModbusSrv& server) override;
  // LastOk false, Index 0, every header "?????", "-----", "-----", "-----".
  void Reset() override;
  void UpdateName() override;  // "ProgHeaderEE[slave]"

  // Each only while not running, for a new value below SlotCount; then Reset.
  void SetFirstProg(int n);
  void SetLastProg(int n);
  std::uint16_t GetFirstProg() const { return firstProg_.load(); }
  std::uint16_t GetLastProg() const { return lastProg_.load(); }
  std::uint16_t GetIndex() const { return index_.load(); }
  std::uint16_t GetSlotCount() const { return slotCount_; }
  // A copy of a slot's header; an empty record outside the slots.
  str_ProgHeader GetHeader(int slot) const;

 private:
  std::atomic<std::uint16_t> firstProg_{0};
  std::atomic<std::uint16_t> index_{0};
  int next_ = 0;  // the slot of the range a running transfer is at (worker)
  std::atomic<std::uint16_t> lastProg_{0};
  std::uint16_t slotCount_ = 0;
  std::unique_ptr<TlaRegBlock> blocks_;  // "EEProgHeader"
  mutable std::mutex headersLock_;       // the worker fills them, the main thread reads them
  std::vector<str_ProgHeader> headers_;
};

class TlaQZProgMove : public TlaQZProgEEProm {
 public:
  enum MoveModes : std::uint8_t { FromMachine = 1, ToMachine = 2, CompareMode = 3 };
  explicit TlaQZProgMove(TlaMBDevice* owner);
  ~TlaQZProgMove() override;

  // Clears Differs, selects ProgNum, then moves "EEProgram" as MoveMode says
  // (nothing for mode 0, -8 for an unknown mode). From the machine, the image
  // takes the program only once all of it has come.
  std::int32_t DoExecute(TModbusSrv& server) override;
  void UpdateName() override;  // "ProgMove[slave]"

  void SetProgNum(int n);    // ignored while running
  void StartMove(int mode);  // ignored while running; else MoveMode := mode, activates
  std::uint16_t GetProgNum() const { return progNum_.load(); }
  std::uint8_t GetMoveMode() const { return moveMode_.load(); }
  bool GetDiffers() const { return differs_.load(); }

 private:
  std::atomic<std::uint16_t> progNum_{0};
  std::atomic<std::uint8_t> moveMode_{0};
  std::atomic<bool> differs_{false};
};
