// The module side of the plug-in interface: pins, the event queue, the
// splitting of blocks at event times and the base class every module
// derives from. Hosts include WBInterface.h only.
#pragma once

#include <cstdint>

#include "WBInterface.h"

#if defined(_WIN32)
#define WB_EXPORT  // the library's .def file exports it as main
#else
#define WB_EXPORT __attribute__((visibility("default")))
#endif

class WBModule_base;

// One pin of an instance: ties a pin index to a module variable and a type.
class WBPin {
 public:
  void Init(WBModule_base* module, int32_t index, int32_t data_type, void* variable);

  int32_t Index() const { return m_index; }
  int32_t Status() const { return m_status; }
  int32_t DataType() const { return m_data_type; }
  void* Variable() const { return m_variable; }

  // Records the status, writes or forwards the value, notifies the module,
  // then lets a one-shot status fall back to static.
  void ApplyStatusChange(int32_t status, int32_t value);
  // Tells the host this pin's status from time_stamp on; own status untouched.
  void TransmitStatusChange(uint32_t time_stamp, int32_t status);

 private:
  void* m_variable = nullptr;
  WBModule_base* m_module = nullptr;
  int32_t m_index = 0;
  int32_t m_status = STATUS_STATIC;
  int32_t m_data_type = 0;
};

// The base of every module. Not copyable: the host holds the address of
// m_record, which must stay put for the object's whole life.
//
// The record's entries call Dispatch and ProcessBlock. A module overrides
// the hooks it needs; each has a harmless default.
class WBModule_base {
 public:
  typedef void (WBModule_base::*ProcessRoutine)(int32_t buffer_offset, int32_t sample_count);

  explicit WBModule_base(WBHostCallback host_callback);
  WBModule_base(const WBModule_base&) = delete;
  WBModule_base& operator=(const WBModule_base&) = delete;
  virtual ~WBModule_base();

  WBModule_record* Record() { return &m_record; }
  int32_t Dispatch(int32_t opcode, int32_t index, int32_t value, void* pointer, float opt);
  // Cuts the block at the stamps of due events: runs the process routine up
  // to each event's sample, applies the event, and so on to the block's end.
  void ProcessBlock(int32_t buffer_offset, int32_t sample_count);

  // For the module and its pins.
  int32_t CallHost(int32_t opcode, int32_t index, int32_t value, void* pointer, int32_t opt);
  WBPin* Pin(int32_t index);
  int32_t PinCount() const { return m_pin_count; }
  bool HasPins() const { return m_pins != nullptr; }
  uint32_t SampleClock() const { return m_sample_clock; }
  float SampleRate() const { return m_sample_rate; }
  int32_t BlockSize() const { return m_block_size; }
  bool QueueEmpty() const { return m_events == nullptr; }
  void SetProcessRoutine(ProcessRoutine routine) { m_process_routine = routine; }

  // Hooks.
  // After a pin's new value and status are stored (one-shot still showing).
  virtual void OnPinStatusChange(WBPin* pin);
  // At DISPATCH_OPEN, after the clock is read and the pins are built.
  virtual void OnOpen();
  virtual void OnClose();
  virtual bool DescribeModule(ModuleProperties* properties);
  // Fills properties for a pin index and answers true, or answers false
  // past the last pin; the base builds the pins from these answers.
  virtual bool DescribePin(int32_t index, PinProperties* properties);
  virtual bool Query4(void* pointer);
  virtual void OnDataEvent(uint32_t time_stamp, int32_t value, int16_t short_value);

 private:
  void Open();
  void BuildPins();
  void QueueEvent(const WbEvent* event);
  void ApplyEvent(WbEvent* event);
  void ResyncClock();
  void ProcessNothing(int32_t, int32_t) {}
  void ReleasePins();
  void ReleaseEvents();

  WBHostCallback m_host_callback;
  WBModule_record m_record;
  float m_sample_rate = 44100.0f;
  int32_t m_block_size = 1024;
  WBPin* m_pins = nullptr;
  int32_t m_pin_count = 0;  // elements in m_pins; pin events beyond it are dropped
  uint32_t m_sample_clock = 0;
  ProcessRoutine m_process_routine = &WBModule_base::ProcessNothing;
  WbEvent* m_events = nullptr;
  WbEvent* m_last_event = nullptr;  // tail of m_events, for appending in O(1)
  // Applied event nodes kept for reuse, so that queueing an event costs no
  // allocation once the instance has seen as many pending at once; released
  // with the instance.
  WbEvent* m_free_events = nullptr;
};

// Provided by the module: creates one instance, or answers null. Must not throw.
WBModule_base* WBCreateModule(WBHostCallback host_callback);
