// A test-only module on the SDK: one pin of every data type, and every
// routine call reported to the host through the callback, so tests see what
// the SDK does from outside, as a host would.
#include "ProbeModule.h"

#include <cstring>
#include <new>

#include "WBModule_base.h"

namespace {

void* Word(uint32_t value) { return reinterpret_cast<void*>(static_cast<uintptr_t>(value)); }

class ProbeModule : public WBModule_base {
 public:
  explicit ProbeModule(WBHostCallback callback) : WBModule_base(callback) {
    SetProcessRoutine(static_cast<ProcessRoutine>(&ProbeModule::RoutineA));
  }

  bool DescribePin(int32_t index, PinProperties* properties) override {
    ++m_describe_calls;
    if (static_cast<uint32_t>(index) >= static_cast<uint32_t>(m_described)) return false;
    properties->variable = &m_variables[index];
    properties->direction = DIR_INPUT;
    properties->data_type = m_types[index];
    properties->name = "probe";
    properties->default_value = "0";
    return true;
  }

  void OnPinStatusChange(WBPin* pin) override {
    uint32_t word = 0;
    if (pin->Variable() != nullptr) std::memcpy(&word, pin->Variable(), sizeof word);
    CallHost(PROBE_PIN_CHANGE, pin->Index(), pin->Status(), Word(word),
             static_cast<int32_t>(SampleClock()));
    if (pin->Index() == kProbeSwitchPin) {
      SetProcessRoutine(static_cast<ProcessRoutine>(&ProbeModule::RoutineB));
    }
  }

  void OnDataEvent(uint32_t time_stamp, int32_t value, int16_t short_value) override {
    CallHost(PROBE_DATA_EVENT, value, short_value, Word(time_stamp),
             static_cast<int32_t>(SampleClock()));
  }

  // Query 4 is the probe's control channel: set the number of described pins,
  // run a command, read back counters and the built pins.
  bool Query4(void* pointer) override {
    ProbeControl* control = static_cast<ProbeControl*>(pointer);
    if (control == nullptr) return false;
    if (control->set_described >= 0 && control->set_described <= kProbePinCount) {
      m_described = control->set_described;
    }
    RunCommand(*control);
    control->describe_calls = m_describe_calls;
    control->pin_count = PinCount();
    control->variables = m_variables;
    control->sample_clock = SampleClock();
    control->has_pins = HasPins() ? 1 : 0;
    for (int32_t i = 0; i < PinCount() && i < kProbeMaxPinViews; ++i) {
      const WBPin& pin = *Pin(i);
      control->pins[i] = {pin.Variable(), pin.Index(), pin.Status(), pin.DataType()};
    }
    return true;
  }

 private:
  void RunCommand(const ProbeControl& control) {
    bool known_pin = control.command_pin >= 0 && control.command_pin < kProbePinCount;
    switch (control.command) {
      case PROBE_COMMAND_TRANSMIT:
        if (control.command_pin >= 0 && control.command_pin < PinCount()) {
          Pin(control.command_pin)
              ->TransmitStatusChange(control.command_clock, control.command_value);
        }
        break;
      case PROBE_COMMAND_SET_PIN_TYPE:
        if (known_pin) m_types[control.command_pin] = control.command_value;
        break;
      default:
        break;
    }
  }

  void RoutineA(int32_t offset, int32_t count) { Report(PROBE_ROUTINE_A, offset, count); }
  void RoutineB(int32_t offset, int32_t count) { Report(PROBE_ROUTINE_B, offset, count); }
  void Report(int32_t opcode, int32_t offset, int32_t count) {
    CallHost(opcode, offset, count, Word(SampleClock()), 0);
  }

  int32_t m_described = kProbePinCount;
  int32_t m_describe_calls = 0;
  int32_t m_types[kProbePinCount] = {TYPE_ENUM,  TYPE_HOST_VALUE, TYPE_BOOL,
                                     TYPE_AUDIO, TYPE_FLOAT,      kProbeUnknownType};
  uint32_t m_variables[kProbePinCount] = {};
};

}  // namespace

WBModule_base* WBCreateModule(WBHostCallback host_callback) {
  return new (std::nothrow) ProbeModule(host_callback);
}
