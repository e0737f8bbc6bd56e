// A test-only module on the SDK: one pin of every data type, and every
// routine call reported to the host through the callback, so tests see what
// the SDK does from outside, as a host would.
#include <cstring>
#include <new>

#include "ProbeModule.h"
#include "WBModule_base.h"

namespace {

class ProbeModule : public WBModule_base {
 public:
  explicit ProbeModule(WBHostCallback callback) : WBModule_base(callback) {
    m_process_routine = static_cast<ProcessRoutine>(&ProbeModule::RoutineA);
  }

  bool DescribePin(int32_t index, PinProperties* properties) override {
    static const int32_t kTypes[kProbePinCount] = {TYPE_ENUM,  TYPE_HOST_VALUE, TYPE_BOOL,
                                                   TYPE_AUDIO, TYPE_FLOAT,      kProbeUnknownType};
    ++m_describe_calls;
    if (static_cast<uint32_t>(index) >= static_cast<uint32_t>(m_described)) return false;
    properties->variable = &m_variables[index];
    properties->direction = DIR_INPUT;
    properties->data_type = kTypes[index];
    properties->name = "probe";
    properties->default_value = "0";
    return true;
  }

  void OnPinStatusChange(WBPin* pin) override {
    CallHost(PROBE_PIN_CHANGE, pin->m_index, pin->Status(), nullptr, 0);
    if (pin->m_index == kProbeSwitchPin) {
      m_process_routine = static_cast<ProcessRoutine>(&ProbeModule::RoutineB);
    }
  }

  void OnDataEvent(uint32_t time_stamp, int32_t value, int16_t short_value) override {
    CallHost(PROBE_DATA_EVENT, value, short_value,
             reinterpret_cast<void*>(static_cast<uintptr_t>(time_stamp)), 0);
  }

  // Query 4 is the probe's control channel: set the number of described pins
  // or read back counters.
  bool Query4(void* pointer) override {
    ProbeControl* control = static_cast<ProbeControl*>(pointer);
    if (control == nullptr) return false;
    if (control->set_described >= 0) m_described = control->set_described;
    control->describe_calls = m_describe_calls;
    control->pin_count = m_pin_count;
    control->variables = m_variables;
    return true;
  }

 private:
  void RoutineA(int32_t offset, int32_t count) { Report(PROBE_ROUTINE_A, offset, count); }
  void RoutineB(int32_t offset, int32_t count) { Report(PROBE_ROUTINE_B, offset, count); }
  void Report(int32_t opcode, int32_t offset, int32_t count) {
    CallHost(opcode, offset, count, reinterpret_cast<void*>(static_cast<uintptr_t>(SampleClock())),
             0);
  }

  int32_t m_described = kProbePinCount;
  int32_t m_describe_calls = 0;
  uint32_t m_variables[kProbePinCount] = {};
};

}  // namespace

WBModule_base* WBCreateModule(WBHostCallback host_callback) {
  return new (std::nothrow) ProbeModule(host_callback);
}
