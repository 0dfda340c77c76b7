#pragma once
// TlaQZMachine: the slave device of a moulding machine. Once its data model is
// loaded it polls the command word ("CmdBordo"), the state word ("StateTerra")
// and the two alarm words ("Alarm1", "Alarm2") every SampleTime passes,
// raises an event when one of them changed, turns its slave state into one
// node-state code, and starts the program transfers.
//
// Node state, by slave state: 0 0xFFFF, 1 162, 2 172, 3 by the worker's state
// (0 175, 1 164, 2 166, 3 259, connected 164), 4 190, 5 193, 6 163 (108 while
// an alarm word is not zero), 7 171, 8 174.
//
// Program slots are numbered from 0: the EEPROM slots ("ProgCountEE" of the
// data model's add-on information) first, then the memory box ("ProgCountBOX").
//
// A transfer that is asked for and not over when the machine loses the line
// (its slave state drops from version pending or online to a state without a
// working connection, or it leaves its worker) is cancelled: OnCancel, and it
// is not run later unless it is asked for again.
//
// Threads: as the slave device. The node state may also be worked out on the
// worker (while the connection closes), so OnMachineStateChange may run there.
#include <atomic>
#include <cstdint>

#include "Tladeviceslavecmp.h"
#include "Tlaqzprogtransacls.h"

class TlaQZMachine : public TlaDeviceSlave {
 public:
  explicit TlaQZMachine(kd::Component* owner = nullptr);
  ~TlaQZMachine() override;
  std::string ClassName() const override { return "TlaQZMachine"; }

  // --- Published events (sender: the machine) ------------------------------
  TlaDeviceEvent OnMachineStateChange;  // NodeState changed
  TlaDeviceEvent OnCmdChange;           // the command word changed
  TlaDeviceEvent OnStateChange;         // the state word changed
  TlaDeviceEvent OnAlarmChange;         // an alarm word changed

  std::uint16_t GetNodeState() const { return nodeState_.load(); }
  // The slave state, as the device works it out; cancels the pending
  // transfers when the line is lost.
  TlaSlaveState UpdateSlaveState() override;
  void ResetConnOwner(TlaMBThread* thread) override;  // also cancels them
  // Works the node state out from UpdateSlaveState; OnMachineStateChange
  // when it differs from the stored one.
  std::uint16_t UpdateQZNodeState();
  // The code of a slave state (workerState: the connection's GetState).
  static std::uint16_t NodeStateFor(TlaSlaveState state, int workerState, bool alarm);

  // Both alarm registers exist and one of them is not zero.
  bool GetIsAlarm() const;
  int GetEEPromProgCount() const;
  int GetMemBoxProgCount() const;
  // Appends the listing of the two alarm words (nothing without "Alarm1").
  void CompileAlarmList(kd::StringList* list);

  // The transfer transactions: created once, owned by this device; the four
  // closures are (re)assigned at every call. The slot transactions need a
  // data model with "NewSelProgEE" and "ActSelProgEE": null without.
  TlaQZProgHeaders* CreateProgHeaderTransaction(TlaTransaEvent onDone,
                                                TlaTransaProgressEvent onProgress,
                                                TlaTransaEvent onError, TlaTransaEvent onCancel);
  TlaQZProgMove* CreateProgMoveTransaction(TlaTransaEvent onDone, TlaTransaProgressEvent onProgress,
                                           TlaTransaEvent onError, TlaTransaEvent onCancel);
  TlaQZProgHeaders* ProgHeaders() const { return progHeaders_; }
  TlaQZProgMove* ProgMove() const { return progMove_; }
  TlaQZActProgRAM* ActProgRAM() const { return actProgRAM_; }

  // Each false without its transaction or outside slave state 6; true means
  // the request was handed over (a transfer that runs already ignores it).
  bool AskForProgHeaders(int first, int last);
  bool MoveProgToRemote(int slot);  // the image's program into the slot (cached headers are reset)
  bool MoveProgFromRemote(int slot);  // the slot's program into the image
  bool CompareProgs(int slot);        // the slot's program against the image (ProgMove Differs)

  // The running program: its number, also its header, or all of it.
  TlaQZActProgRAM* ReqActProgNum(TlaTransaEvent onDone, TlaTransaProgressEvent onProgress,
                                 TlaTransaEvent onError, TlaTransaEvent onCancel);
  TlaQZActProgRAM* ReqActProgHeader(TlaTransaEvent onDone, TlaTransaProgressEvent onProgress,
                                    TlaTransaEvent onError, TlaTransaEvent onCancel);
  TlaQZActProgRAM* ReqActProgRead(TlaTransaEvent onDone, TlaTransaProgressEvent onProgress,
                                  TlaTransaEvent onError, TlaTransaEvent onCancel);

 protected:
  // The three periodic reads; a register the data model lacks has none.
  void AfterVersionFound() override;

 private:
  // Creates the transaction once (when create), then gives it the closures.
  template <class T>
  T* Bind(T*& transa, bool create, TlaTransaEvent& onDone, TlaTransaProgressEvent& onProgress,
          TlaTransaEvent& onError, TlaTransaEvent& onCancel);
  TlaQZActProgRAM* RequestActProg(std::int8_t mode, TlaTransaEvent& onDone,
                                  TlaTransaProgressEvent& onProgress, TlaTransaEvent& onError,
                                  TlaTransaEvent& onCancel);
  bool StartMove(int slot, int mode);
  // A periodic read of count registers from the named one; none without it.
  void NewPoll(const char* name, const char* first, int count, TlaDeviceEvent TlaQZMachine::*event,
               bool updateNodeState);
  bool HasSlotRegisters() const;
  // CancelPending of every transfer of the device.
  void CancelTransfers();

  std::atomic<std::uint16_t> nodeState_{0};
  std::atomic<bool> lineUp_{false};  // the last state had a working connection
  // Owned through TransaList (deleted by the base's destructor).
  TlaQZProgHeaders* progHeaders_ = nullptr;
  TlaQZProgMove* progMove_ = nullptr;
  TlaQZActProgRAM* actProgRAM_ = nullptr;
};
