// A small host: loads a module library, creates instances through its main,
// drives them through the record, and answers and records host callbacks.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "WBInterface.h"

namespace wbhost {

// A module library loaded by path (dlopen or LoadLibraryA).
class ModuleLibrary {
 public:
  ModuleLibrary() = default;
  ModuleLibrary(const ModuleLibrary&) = delete;
  ModuleLibrary& operator=(const ModuleLibrary&) = delete;
  ~ModuleLibrary();

  // Loads the library and resolves main; on failure says why in *error.
  bool Load(const std::string& path, std::string* error);
  WBMainProc Main() const { return m_main; }

 private:
  void* m_handle = nullptr;
  WBMainProc m_main = nullptr;
};

// One callback the module made.
struct HostCall {
  int32_t opcode;
  int32_t index;
  int32_t value;
  uint32_t pointer;  // pointer argument as a 32-bit word (HOST_PIN_STATUS: clock)
  int32_t opt;
};

// The host side of one instance: what it answers, and what it was asked.
struct HostState {
  uint32_t sample_clock = 0;  // answer to HOST_GET_SAMPLE_CLOCK
  int32_t pin_count = 0;      // answer to HOST_GET_PIN_COUNT
  bool record_calls = true;   // keep every call in calls
  std::vector<HostCall> calls;
  int32_t sleep_requests = 0;  // HOST_REQUEST_SLEEP calls seen

  // Calls with this opcode, in order.
  std::vector<HostCall> CallsWith(int32_t opcode) const;
};

// An EVENT_PIN_STATUS record: status and value (a float pin's value as its
// bits) for pin at time_stamp.
WbEvent PinEvent(uint32_t time_stamp, int32_t pin, int32_t status, int32_t value);

// One module instance, driven through its record as a host does. Create,
// use and destroy instances of one library from one thread at a time per
// instance; distinct instances may run on distinct threads.
class Instance {
 public:
  Instance() = default;
  Instance(const Instance&) = delete;
  Instance& operator=(const Instance&) = delete;
  ~Instance();  // closes the instance if it is still open

  // Calls main with this instance's callback, or with a null callback when
  // with_callback is false. False if main answered null.
  bool Create(WBMainProc main, bool with_callback = true);
  WBModule_record* Record() const { return m_record; }
  HostState& Host() { return m_host; }

  int32_t Dispatch(int32_t opcode, int32_t index = 0, int32_t value = 0, void* pointer = nullptr,
                   float opt = 0.0f);
  void Process(int32_t buffer_offset, int32_t sample_count);

  void Open() { Dispatch(DISPATCH_OPEN); }
  int32_t Close();  // answers what the dispatcher answered; the record is gone after
  void SetSampleRate(float rate) { Dispatch(DISPATCH_SET_SAMPLE_RATE, 0, 0, nullptr, rate); }
  void SetBlockSize(int32_t size) { Dispatch(DISPATCH_SET_BLOCK_SIZE, 0, size); }
  bool DescribeModule(ModuleProperties* properties) {
    return Dispatch(DISPATCH_GET_MODULE_PROPERTIES, 0, 0, properties) != 0;
  }
  bool DescribePin(int32_t index, PinProperties* properties) {
    return Dispatch(DISPATCH_GET_PIN_PROPERTIES, index, 0, properties) != 0;
  }
  void AddEvent(const WbEvent& event) {
    Dispatch(DISPATCH_ADD_EVENT, 0, 0, const_cast<WbEvent*>(&event));
  }
  // Queues a pin change: status and value (a float pin's value as its bits).
  void AddPinEvent(uint32_t time_stamp, int32_t pin, int32_t status, int32_t value);
  void AddPinFloatEvent(uint32_t time_stamp, int32_t pin, int32_t status, float value);
  void Resume() { Dispatch(DISPATCH_RESUME); }
  bool QueueEmpty() { return Dispatch(DISPATCH_QUEUE_EMPTY) != 0; }

  // Writes a sample buffer's address into an audio pin's variable.
  void ConnectBuffer(int32_t pin, float* buffer);
  // The module's variable behind a pin, from its description (null if none).
  void* PinVariable(int32_t pin);

 private:
  WBModule_record* m_record = nullptr;
  HostState m_host;
};

}  // namespace wbhost
