#include "WBModule_base.h"

#include <cstring>
#include <new>

#include "WBAssert.h"

namespace {

// The record's two entries turn the record back into its object.
int32_t WB_CALL DispatchEntry(WBModule_record* record, int32_t opcode, int32_t index, int32_t value,
                              void* pointer, float opt) {
  WBModule_base* module = static_cast<WBModule_base*>(record->object);
  int32_t result = module->Dispatch(opcode, index, value, pointer, opt);
  if (opcode == DISPATCH_CLOSE) {
    delete module;
    return 1;
  }
  return result;
}

void WB_CALL ProcessEntry(WBModule_record* record, int32_t buffer_offset, int32_t sample_count) {
  static_cast<WBModule_base*>(record->object)->ProcessBlock(buffer_offset, sample_count);
}

}  // namespace

// ---------------------------------------------------------------- WBPin

void WBPin::Init(WBModule_base* module, int32_t index, int32_t data_type, void* variable) {
  m_module = module;
  m_index = index;
  m_data_type = data_type;
  m_variable = variable;
  m_status = STATUS_STATIC;
}

void WBPin::ApplyStatusChange(int32_t status, int32_t value) {
  m_status = status;
  switch (m_data_type) {
    case TYPE_ENUM: {
      uint16_t low = static_cast<uint16_t>(value);
      std::memcpy(m_variable, &low, sizeof low);
      break;
    }
    case TYPE_HOST_VALUE:
      m_module->CallHost(HOST_FORWARD_PIN_VALUE, m_index, value, nullptr, 0);
      break;
    case TYPE_BOOL:
      *static_cast<uint8_t*>(m_variable) = value != 0 ? 1 : 0;
      break;
    case TYPE_FLOAT:
      std::memcpy(m_variable, &value, sizeof value);
      break;
    default:  // TYPE_AUDIO and unknown codes write nothing
      break;
  }
  m_module->OnPinStatusChange(this);
  if (status == STATUS_ONE_SHOT) m_status = STATUS_STATIC;
}

void WBPin::TransmitStatusChange(uint32_t time_stamp, int32_t status) {
  m_module->CallHost(HOST_PIN_STATUS, m_index, status,
                     reinterpret_cast<void*>(static_cast<uintptr_t>(time_stamp)), 0);
}

// ---------------------------------------------------------- WBModule_base

WBModule_base::WBModule_base(WBHostCallback host_callback) : m_host_callback(host_callback) {
  std::memset(&m_record, 0, sizeof m_record);
  m_record.magic = WB_RECORD_MAGIC;
  m_record.dispatcher = &DispatchEntry;
  m_record.object = this;
  m_record.flag_40 = 1;
  m_record.process = &ProcessEntry;
}

WBModule_base::~WBModule_base() {
  ReleasePins();
  ReleaseEvents();  // never applied now; the host cannot reach them any more
}

void WBModule_base::ReleasePins() {
  delete[] m_pins;
  m_pins = nullptr;
  m_pin_count = 0;
}

void WBModule_base::ReleaseEvents() {
  while (m_events != nullptr) {
    WbEvent* next = m_events->next;
    // A queued deferred call's record is the module's to release, run or not.
    if (m_events->event_type == EVENT_DEFERRED_CALL)
      delete static_cast<DeferredCall*>(m_events->data);
    delete m_events;
    m_events = next;
  }
  m_last_event = nullptr;
  while (m_free_events != nullptr) {
    WbEvent* next = m_free_events->next;
    delete m_free_events;
    m_free_events = next;
  }
}

int32_t WBModule_base::CallHost(int32_t opcode, int32_t index, int32_t value, void* pointer,
                                int32_t opt) {
  if (m_host_callback == nullptr) return 0;
  return m_host_callback(&m_record, opcode, index, value, pointer, opt);
}

int32_t WBModule_base::Dispatch(int32_t opcode, int32_t index, int32_t value, void* pointer,
                                float opt) {
  switch (opcode) {
    case DISPATCH_OPEN:
      Open();
      return 0;
    case DISPATCH_CLOSE:
      OnClose();
      return 0;
    case DISPATCH_SET_SAMPLE_RATE:
      m_sample_rate = opt;
      return 0;
    case DISPATCH_SET_BLOCK_SIZE:
      m_block_size = value;
      return 0;
    case DISPATCH_QUERY_4:
      return Query4(pointer) ? 1 : 0;
    case DISPATCH_GET_PIN_PROPERTIES:
      if (pointer == nullptr) return 0;
      return DescribePin(index, static_cast<PinProperties*>(pointer)) ? 1 : 0;
    case DISPATCH_ADD_EVENT:
      if (pointer != nullptr) QueueEvent(static_cast<const WbEvent*>(pointer));
      return 0;
    case DISPATCH_RESUME:
      ResyncClock();
      return 0;
    case DISPATCH_GET_MODULE_PROPERTIES:
      if (pointer == nullptr) return 0;
      return DescribeModule(static_cast<ModuleProperties*>(pointer)) ? 1 : 0;
    case DISPATCH_QUEUE_EMPTY:
      return m_events == nullptr ? 1 : 0;
    default:
      return 0;
  }
}

void WBModule_base::OnPinStatusChange(WBPin*) {}
void WBModule_base::OnOpen() {}
void WBModule_base::OnClose() {}
bool WBModule_base::DescribeModule(ModuleProperties*) { return false; }
bool WBModule_base::DescribePin(int32_t, PinProperties*) { return false; }
bool WBModule_base::Query4(void*) { return false; }
void WBModule_base::OnDataEvent(uint32_t, int32_t, int16_t) {}

// ----------------------------------------------------------------- pins

WBPin* WBModule_base::Pin(int32_t index) {
  WB_ASSERT(m_pins != 0, "m_pins != 0", 124);
  return &m_pins[index];
}

// The base's part comes first whatever the module does in its hook: the
// module's open may use the clock and the pins.
void WBModule_base::Open() {
  m_sample_clock = static_cast<uint32_t>(CallHost(HOST_GET_SAMPLE_CLOCK, 0, 0, nullptr, 0));
  BuildPins();
  OnOpen();
}

void WBModule_base::BuildPins() {
  // The scratch record is shared by every description, as hosts expect.
  PinProperties scratch;
  std::memset(&scratch, 0, sizeof scratch);
  int32_t described = 0;
  while (DescribePin(described, &scratch)) ++described;

  int32_t host_count = CallHost(HOST_GET_PIN_COUNT, 0, 0, nullptr, 0);
  // Surplus pins copy the last described pin; with none described there is
  // nothing to copy, so the host's extra pins are not built.
  int32_t pin_count = (described > 0 && host_count > described) ? host_count : described;

  ReleasePins();  // a second open starts from fresh pins
  m_pins = new (std::nothrow) WBPin[pin_count];
  if (m_pins == nullptr && pin_count > described) {
    pin_count = described;  // the host asked for more than memory holds
    m_pins = new (std::nothrow) WBPin[pin_count];
  }
  if (m_pins == nullptr) return;
  m_pin_count = pin_count;

  int32_t index = 0;
  for (; DescribePin(index, &scratch); ++index) {
    m_pins[index].Init(this, index, scratch.data_type, scratch.variable);
  }
  if (described == 0) return;
  DescribePin(described - 1, &scratch);
  for (index = described; index < pin_count; ++index) {
    m_pins[index].Init(this, index, scratch.data_type, scratch.variable);
  }
}

// --------------------------------------------------------------- events

void WBModule_base::QueueEvent(const WbEvent* event) {
  WB_ASSERT(event->time_stamp >= SampleClock(), "p_event->time_stamp >= SampleClock()", 273);
  WbEvent* copy = m_free_events;
  if (copy != nullptr) {
    m_free_events = copy->next;
  } else {
    copy = new (std::nothrow) WbEvent;
  }
  if (copy == nullptr) return;  // out of memory: the event is lost, the host goes on
  copy->time_stamp = event->time_stamp;
  copy->event_type = event->event_type;
  copy->value_1 = event->value_1;
  copy->value_2 = event->value_2;
  copy->data = event->data;
  copy->next = nullptr;

  // Hosts queue mostly in time order: appending behind the last event keeps
  // that case constant-time however many events wait.
  if (m_events == nullptr || m_last_event->time_stamp <= copy->time_stamp) {
    (m_events == nullptr ? m_events : m_last_event->next) = copy;
    m_last_event = copy;
    return;
  }
  WbEvent** link = &m_events;
  while ((*link)->time_stamp <= copy->time_stamp) link = &(*link)->next;
  copy->next = *link;
  *link = copy;
}

void WBModule_base::ProcessBlock(int32_t buffer_offset, int32_t sample_count) {
  WB_ASSERT(sample_count > 0, "sampleFrames > 0", 179);
  uint32_t current_sample_clock = m_sample_clock;
  const uint32_t end = current_sample_clock + static_cast<uint32_t>(sample_count);
  int32_t remaining = sample_count;
  int32_t offset = buffer_offset;

  for (;;) {
    WbEvent* next_event = m_events;
    if (next_event == nullptr) {
      (this->*m_process_routine)(offset, remaining);
      m_sample_clock = end;
      return;
    }
    WB_ASSERT(next_event->time_stamp >= current_sample_clock,
              "next_event->time_stamp >= current_sample_clock", 198);
    // Measured as a distance from the clock, so that a block across the
    // clock's wrap to 0 still reaches an event stamped before the wrap.
    const uint32_t distance = next_event->time_stamp - current_sample_clock;
    int32_t piece =
        distance < static_cast<uint32_t>(remaining) ? static_cast<int32_t>(distance) : remaining;
    if (piece != 0) {
      (this->*m_process_routine)(offset, piece);
      current_sample_clock += static_cast<uint32_t>(piece);
      m_sample_clock = current_sample_clock;
      remaining -= piece;
      if (remaining == 0) return;
      offset += piece;
    }
    m_events = next_event->next;
    if (m_events == nullptr) m_last_event = nullptr;
    ApplyEvent(next_event);
    next_event->next = m_free_events;  // kept for the next QueueEvent
    m_free_events = next_event;
  }
}

void WBModule_base::ApplyEvent(WbEvent* event) {
  WB_ASSERT(event->time_stamp == SampleClock(), "e->time_stamp == SampleClock()", 231);
  switch (event->event_type) {
    case EVENT_PIN_STATUS: {
      int32_t index = static_cast<int32_t>(reinterpret_cast<uintptr_t>(event->data));
      // A pin the instance does not have is ignored rather than written through;
      // before open there is no pin array at all, which Pin reports.
      if (m_pins != nullptr && (index < 0 || index >= m_pin_count)) break;
      Pin(index)->ApplyStatusChange(event->value_1, event->value_2);
      break;
    }
    case EVENT_DATA:
      OnDataEvent(event->time_stamp, event->value_1, static_cast<int16_t>(event->value_2));
      break;
    case EVENT_DEFERRED_CALL: {
      DeferredCall* call = static_cast<DeferredCall*>(event->data);
      if (call != nullptr) {
        if (call->function != nullptr) call->function(call->argument);
        delete call;
      }
      event->data = nullptr;
      break;
    }
    default:  // unknown types are dropped
      break;
  }
}

void WBModule_base::ResyncClock() {
  m_sample_clock = static_cast<uint32_t>(CallHost(HOST_GET_SAMPLE_CLOCK, 0, 0, nullptr, 0));
  // The list is in time order, so the overdue events are its front.
  for (WbEvent* e = m_events; e != nullptr && e->time_stamp < m_sample_clock; e = e->next) {
    e->time_stamp = m_sample_clock;
  }
}

// ---------------------------------------------------------- entry point

extern "C" WB_EXPORT WBModule_record* WB_CALL WBMain(int32_t /*reserved*/,
                                                     WBHostCallback host_callback)
#if !defined(_WIN32)
    __asm__("main")  // C++ reserves ::main for the program; the loader only sees the name
#endif
    ;

extern "C" WBModule_record* WB_CALL WBMain(int32_t, WBHostCallback host_callback) {
  WBModule_base* module = WBCreateModule(host_callback);
  return module != nullptr ? module->Record() : nullptr;
}
