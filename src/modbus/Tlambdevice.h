#pragma once
// TlaMBDevice: the slave device as the connection worker and the transactions
// see it. It is the register image of the device (TlaRegDataBuffer) plus the
// operations they call on it; TlaDeviceSlave (devices library) supplies them.
#include <atomic>
#include <cstdint>

#include "ThreadList.h"
#include "Tlaregdatabuffercmp.h"

class TlaMBTransaction;
class TlaMBThread;

class TlaMBDevice : public TlaRegDataBuffer {
 public:
  explicit TlaMBDevice(kd::Component* owner = nullptr) : TlaRegDataBuffer(owner) {}
  std::string ClassName() const override { return "TlaMBDevice"; }

  // The seven operations the worker and the transactions call.
  virtual void Add(TlaMBTransaction* transa) = 0;
  virtual void Extract(TlaMBTransaction* transa) = 0;
  virtual void SetConnOwner(TlaMBThread* thread) = 0;
  virtual void ResetConnOwner(TlaMBThread* thread) = 0;
  virtual void IncFaultCount() = 0;
  virtual void RstFaultCount() = 0;
  virtual std::uint8_t UpdateSlaveState() = 0;

  // Device settings the transactions copy and the worker reads.
  virtual std::uint8_t GetModBusAddress() const = 0;
  virtual std::int32_t GetSampleTime() const = 0;
  virtual bool GetEnable() const = 0;

  // The device's transactions; the worker walks it under its lock for the
  // device's part of a pass.
  kd::ThreadList<TlaMBTransaction*>& TransaList() { return transaList_; }
  TlaMBThread* GetConnOwner() const { return connOwner_.load(); }

 protected:
  kd::ThreadList<TlaMBTransaction*> transaList_;
  std::atomic<TlaMBThread*> connOwner_{nullptr};  // not owned; read by the worker
};
