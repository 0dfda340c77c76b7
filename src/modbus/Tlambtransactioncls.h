#pragma once
// TlaMBTransaction: one unit of work on a Modbus connection. The
// connection's worker runs it when it is due (IsDue, Run); its outcome
// reaches the main thread through a hidden message window of its own:
// WM_USER+1 after every run (Notify; a run that continues at the next pass
// is not over and posts nothing), WM_USER+2 progress (Progress), WM_USER+3
// cancel (Cancel), in posting order. A destroyed transaction receives nothing
// of what was still queued for it.
//
// Threads: IsDue, Run, TxRx and Execute run on the worker only; Notify,
// Progress, Cancel and every other operation on the main thread. The fields
// the two share without a lock are atomic.
//
// Owner: a connection worker (TlaMBThread) or a slave device (TlaMBDevice),
// or none. The owner does not delete the transaction here: a device deletes
// its transactions, a worker never does. Destroying a transaction detaches
// it from its owner first, which waits for a pass that is running it to end;
// a subclass whose Execute uses data of its own calls LeaveOwner() first in
// its destructor, so that no pass runs it while that data goes.
#include <atomic>
#include <cstdint>
#include <memory>
#include <string>
#include <vector>

#include "Event.h"
#include "Formats.h"
#include "MbCodes.h"
#include "MessageWindow.h"

class TModbusSrv;
class TlaMBDevice;
class TlaMBThread;
class TlaMBTransaction;
class TlaThreadBuffer;

// Closures: (sender, result or value) and (sender, position, total).
using TlaTransaEvent = kd::Event<void(TlaMBTransaction* sender, std::int32_t value)>;
using TlaTransaProgressEvent = kd::Event<void(TlaMBTransaction* sender, int position, int total)>;

// Result codes (32-bit).
inline constexpr std::int32_t kMBSuccess = 0;
inline constexpr std::int32_t kMBOpenFailed = -1;          // connection could not be opened
inline constexpr std::int32_t kMBAnswerSize = -2;          // answer size differs from the expected one
inline constexpr std::int32_t kMBNoData = -3;              // no data destination or source
inline constexpr std::int32_t kMBOpenException = -4;       // server component missing or not registered
inline constexpr std::int32_t kMBBridgeNotConnected = -5;  // gateway started without an open connection
inline constexpr std::int32_t kMBBridgeStart = -6;         // gateway could not be started
inline constexpr std::int32_t kMBBridgeStop = -7;          // gateway could not be stopped
inline constexpr std::int32_t kMBSpecialFailed = -8;       // special function failed (program transfers)
inline constexpr std::int32_t kMBTimeout = kd::mb::kTimeout;  // 0x80040201, no answer in time
// 0x80040202..0x8004020A other transport failures; 0x80048201 and up
// exception answers (kd::mb::ExceptionResult).

// Messages of the hidden window.
inline constexpr unsigned WM_MB_DONE = kd::WM_USER + 1;
inline constexpr unsigned WM_MB_PROGRESS = kd::WM_USER + 2;
inline constexpr unsigned WM_MB_CANCEL = kd::WM_USER + 3;

class TlaMBTransaction {
 public:
  // Owned by `owner` (when not null): slave address and period from its
  // settings (ModBusAddress, SampleTime as a number of passes); both disable
  // flags set when SampleTime is 0. The subclass constructor binds its own
  // data (OwnerChanged is not called from here) and calls UpdateName.
  explicit TlaMBTransaction(TlaMBDevice* owner);
  // No owner; both disable flags set when period is 0 (a period of 0 stays 0).
  TlaMBTransaction(std::uint8_t slaveAddress, int period);
  virtual ~TlaMBTransaction();
  TlaMBTransaction(const TlaMBTransaction&) = delete;
  TlaMBTransaction& operator=(const TlaMBTransaction&) = delete;

  // --- Worker thread -------------------------------------------------------
  // Builds the request(s), exchanges them with TxRx, checks and takes the
  // answer; returns a result code.
  virtual std::int32_t Execute(TModbusSrv& server) = 0;
  // False when not Active; else counts Countdown down and is true when it
  // reaches 0, restarting it at Period: a transaction activated with
  // Countdown 0 runs at the next pass and then every Period-th pass.
  bool IsDue();
  // Busy while Execute runs; LastSuccess on result 0; ResultChanged when the
  // result differs from the last one; LastResult. Returns the result. A run
  // whose Execute called ContinueNextPass records none of these.
  std::int32_t Run(TModbusSrv& server);
  // The last run is not over (its Execute called ContinueNextPass): the
  // worker neither posts nor disables it, and runs it again at its next pass.
  bool GetContinuing() const { return continuing_.load(); }
  // Exchanges Query; on failure repeats while the server's Retries allow
  // (at most Retries + 1 exchanges). Response holds the answer on success.
  std::int32_t TxRx(TModbusSrv& server);

  // --- Main thread -----------------------------------------------------------
  virtual void Notify() = 0;                          // WM_USER+1, after every run
  virtual void Progress(int position, int total) = 0;  // WM_USER+2
  virtual void Cancel() = 0;                          // WM_USER+3: the connection closed under it
  virtual void OwnerChanged() = 0;                    // after the owner changed: rebind buffers
  virtual void UpdateName() = 0;                      // recompute Name

  // False also sets Countdown 0; true keeps it (0 after a stop: due at the next pass).
  void SetActive(bool active);
  // Period := p (1 when p is 0); Countdown := 0.
  void SetPeriod(int p);

  // Leave the old owner (device Extract, thread Remove), then join the new
  // one: a device's Add, its ModBusAddress, OwnerChanged; a thread's Add,
  // OwnerChanged. Null leaves the transaction without an owner.
  void SetOwnerDevice(TlaMBDevice* device);
  void SetOwnerThread(TlaMBThread* thread);
  // Owner := null when it is `owner` (called by the owner's Remove/Extract).
  void ClearOwner(const TlaMBThread* owner);
  void ClearOwner(const TlaMBDevice* owner);
  TlaMBThread* GetOwnerThread() const { return ownerThread_.load(); }
  TlaMBDevice* GetOwnerDevice() const { return ownerDevice_.load(); }

  // Any thread: post to the own window (nothing when no main loop is installed).
  void PostDone();                  // WM_USER+1 (0, 0)
  void PostProgress(int a, int b);  // WM_USER+2 (a, b)
  void PostCancel();                // WM_USER+3 (0, 0)

  const std::string& GetName() const { return Name; }
  bool GetActive() const { return active_.load(); }
  bool GetBusy() const { return busy_.load(); }
  int GetCountdown() const { return countdown_.load(); }
  int GetPeriod() const { return period_.load(); }
  std::int32_t GetLastResult() const { return lastResult_.load(); }
  bool GetResultChanged() const { return resultChanged_.load(); }
  kd::TDateTime GetLastSuccess() const { return lastSuccess_.load(); }
  // The last request and answer (worker data: read them after WM_USER+1).
  const std::vector<std::uint8_t>& GetQuery() const { return Query; }
  std::uint16_t GetQueryLength() const { return QueryLength; }
  const std::vector<std::uint8_t>& GetResponse() const { return Response; }

  // Set by the owner or the main thread; the worker reads them.
  std::atomic<std::uint8_t> SlaveAddress{0};  // first byte of every request
  std::atomic<bool> DisableOnSuccess{true};   // the worker deactivates after result 0
  std::atomic<bool> DisableOnError{true};     // ... after a non-zero result

 protected:
  // Leaves the owner now (see the top of this file). Idempotent.
  void LeaveOwner();
  // Execute (worker): this run is not over, the next one goes on with it. It
  // waits outside the pass (and so outside every lock) for what it needs,
  // instead of inside Execute: the transaction stays active and is due at the
  // next pass; the run's result is not recorded and nothing is posted for it.
  void ContinueNextPass();
  // Notify of the done/error pair: onError(this, LastResult) after a
  // failure, else onDone(this, doneValue); each when assigned.
  void RaiseDoneOrError(const TlaTransaEvent& onDone, const TlaTransaEvent& onError, std::int32_t doneValue = 0);

  // Request builders: clear Query and fill it (QueryLength follows).
  void SetQuery(std::vector<std::uint8_t> query);
  void BuildReadHoldRegisters(std::uint16_t address, std::uint16_t count);  // 6 bytes
  // Function 6: slave, 6, address, then the size bytes of data (size + 4 bytes).
  void BuildWriteSingleRegister(std::uint16_t address, const std::uint8_t* data, int size);
  // Function 16: slave, 0x10, address, count, byte count (low 8 bits of
  // size), then the size bytes of data (size + 7 bytes).
  void BuildWriteMultRegisters(std::uint16_t address, std::uint16_t count, const std::uint8_t* data,
                               int size);
  void BuildDeviceIdentification();                                          // 0x41, 2 bytes
  void BuildDataModelInfo();                                                 // 0x42, 2 bytes
  void BuildDataModelEntry(std::uint16_t index);                             // 0x43, 4 bytes

  // Worker: function 3 of count registers from address, exchanged with TxRx;
  // the answer must carry exactly the buffer's bytes (-2, buffer untouched).
  // changed := the answer differs from the buffer; with take it then
  // replaces the buffer. Compare and copy each under the buffer's lock.
  std::int32_t ReadRegisters(TModbusSrv& server, std::uint16_t address, std::uint16_t count,
                             TlaThreadBuffer& buffer, bool take, bool& changed);

  std::string Name;
  std::uint16_t QueryLength = 0;
  std::vector<std::uint8_t> Query;
  std::vector<std::uint8_t> Response;
  std::vector<std::uint8_t> BytesRead;

 private:
  void Post(unsigned msg, std::intptr_t wParam, std::intptr_t lParam);
  void WindowProc(unsigned msg, std::intptr_t wParam, std::intptr_t lParam);

  std::shared_ptr<bool> alive_ = std::make_shared<bool>(true);  // main thread: false once destroyed
  std::unique_ptr<kd::MessageWindow> handle_;
  std::atomic<int> countdown_{0};
  std::atomic<int> period_{0};
  std::atomic<bool> active_{false};
  std::atomic<bool> busy_{false};
  std::atomic<kd::TDateTime> lastSuccess_;
  std::atomic<TlaMBThread*> ownerThread_{nullptr};  // at most one of the two is set
  std::atomic<TlaMBDevice*> ownerDevice_{nullptr};
  std::atomic<std::int32_t> lastResult_{0};
  std::atomic<bool> resultChanged_{false};
  std::atomic<bool> continuing_{false};
};
