#include "WBHost.h"

#include <atomic>
#include <cstring>
#include <fstream>

#if defined(_WIN32)
#include <windows.h>
#else
#include <dlfcn.h>
#endif

namespace wbhost {

// ------------------------------------------------------------- library

namespace {

#if !defined(_WIN32)
// Why a library that exists cannot be loaded into this program, when the
// loader's own words would not say it plainly: it was built for another
// machine (the synthesizer's 32-bit module in a native tool, or the other way
// round), or it is a Windows DLL. Empty otherwise.
std::string ForeignLibrary(const std::string& path) {
  char head[20] = {};
  std::ifstream(path, std::ios::binary).read(head, sizeof head);
  constexpr const char* kThisMachine = sizeof(void*) == 4 ? "i386 (32-bit)" : "x86-64";
  const auto built_for = [&](const char* machine) {
    return path + " is a module built for " + machine + "; this program is built for " +
           kThisMachine + " and loads the Tonevolt.so built with it";
  };
  if (std::memcmp(head, "MZ", 2) == 0) return built_for("Windows");
  if (std::memcmp(head,
                  "\x7f"
                  "ELF",
                  4) != 0)
    return "";
  const uint16_t machine = static_cast<uint8_t>(head[18]) | static_cast<uint8_t>(head[19]) << 8;
  const bool is_32 = head[4] == 1;
  if (is_32 == (sizeof(void*) == 4)) return "";
  if (machine == 3) return built_for("i386 (32-bit)");
  if (machine == 62) return built_for("x86-64");
  return built_for("another machine");
}
#endif

}  // namespace

ModuleLibrary::~ModuleLibrary() {
  if (m_handle == nullptr) return;
#if defined(_WIN32)
  FreeLibrary(static_cast<HMODULE>(m_handle));
#else
  dlclose(m_handle);
#endif
}

bool ModuleLibrary::Load(const std::string& path, std::string* error) {
#if defined(_WIN32)
  HMODULE handle = LoadLibraryA(path.c_str());
  if (handle == nullptr) {
    *error = "cannot load module library " + path + " (Windows error " +
             std::to_string(GetLastError()) + ")";
    return false;
  }
  FARPROC entry = GetProcAddress(handle, "main");
  if (entry == nullptr) {
    FreeLibrary(handle);
    *error = "module library " + path + " exports no main";
    return false;
  }
  m_handle = handle;
  m_main = reinterpret_cast<WBMainProc>(reinterpret_cast<void*>(entry));
#else
  void* handle = dlopen(path.c_str(), RTLD_NOW | RTLD_LOCAL);
  if (handle == nullptr) {
    const char* why = dlerror();
    const std::string foreign = ForeignLibrary(path);
    *error = "cannot load module library: " +
             (!foreign.empty() ? foreign : std::string(why != nullptr ? why : path));
    return false;
  }
  void* entry = dlsym(handle, "main");
  if (entry == nullptr) {
    dlclose(handle);
    *error = "module library " + path + " exports no main";
    return false;
  }
  m_handle = handle;
  m_main = reinterpret_cast<WBMainProc>(entry);
#endif
  return true;
}

// ------------------------------------------------------------ callbacks

std::vector<HostCall> HostState::CallsWith(int32_t opcode) const {
  std::vector<HostCall> found;
  for (const HostCall& call : calls)
    if (call.opcode == opcode) found.push_back(call);
  return found;
}

namespace {

// The callback gets only the record, so the host finds its state by record.
// Few instances live at once; a short list under a spin lock is enough.
struct Registration {
  WBModule_record* record;
  HostState* host;
};
std::vector<Registration> g_registrations;
std::atomic_flag g_registrations_lock = ATOMIC_FLAG_INIT;

class RegistrationLock {
 public:
  RegistrationLock() {
    while (g_registrations_lock.test_and_set(std::memory_order_acquire)) {
    }
  }
  ~RegistrationLock() { g_registrations_lock.clear(std::memory_order_release); }
};

void Register(WBModule_record* record, HostState* host) {
  RegistrationLock lock;
  g_registrations.push_back({record, host});
}

void Unregister(WBModule_record* record) {
  RegistrationLock lock;
  for (size_t i = 0; i < g_registrations.size(); ++i) {
    if (g_registrations[i].record == record) {
      g_registrations[i] = g_registrations.back();
      g_registrations.pop_back();
      return;
    }
  }
}

HostState* Find(WBModule_record* record) {
  RegistrationLock lock;
  for (const Registration& r : g_registrations)
    if (r.record == record) return r.host;
  return nullptr;
}

int32_t WB_CALL HostCallback(WBModule_record* record, int32_t opcode, int32_t index, int32_t value,
                             void* pointer, int32_t opt) {
  HostState* host = Find(record);
  if (host == nullptr) return 0;
  if (host->record_calls) {
    host->calls.push_back(
        {opcode, index, value, static_cast<uint32_t>(reinterpret_cast<uintptr_t>(pointer)), opt});
  }
  switch (opcode) {
    case HOST_GET_SAMPLE_CLOCK:
      return static_cast<int32_t>(host->sample_clock);
    case HOST_GET_PIN_COUNT:
      return host->pin_count;
    case HOST_REQUEST_SLEEP:
      ++host->sleep_requests;
      return 0;
    default:
      return 0;
  }
}

}  // namespace

// ------------------------------------------------------------ instance

WbEvent PinEvent(uint32_t time_stamp, int32_t pin, int32_t status, int32_t value) {
  WbEvent event;
  std::memset(&event, 0, sizeof event);
  event.time_stamp = time_stamp;
  event.event_type = EVENT_PIN_STATUS;
  event.value_1 = status;
  event.value_2 = value;
  event.data = reinterpret_cast<void*>(static_cast<intptr_t>(pin));
  return event;
}

Instance::~Instance() {
  if (m_record != nullptr) Close();
}

bool Instance::Create(WBMainProc main, bool with_callback) {
  m_record = main(0, with_callback ? &HostCallback : nullptr);
  if (m_record == nullptr) return false;
  Register(m_record, &m_host);
  return true;
}

int32_t Instance::Dispatch(int32_t opcode, int32_t index, int32_t value, void* pointer, float opt) {
  return m_record->dispatcher(m_record, opcode, index, value, pointer, opt);
}

void Instance::Process(int32_t buffer_offset, int32_t sample_count) {
  m_record->process(m_record, buffer_offset, sample_count);
}

int32_t Instance::Close() {
  int32_t answer = Dispatch(DISPATCH_CLOSE);
  Unregister(m_record);
  m_record = nullptr;
  return answer;
}

void Instance::AddPinEvent(uint32_t time_stamp, int32_t pin, int32_t status, int32_t value) {
  AddEvent(PinEvent(time_stamp, pin, status, value));
}
void Instance::AddPinFloatEvent(uint32_t time_stamp, int32_t pin, int32_t status, float value) {
  int32_t bits;
  std::memcpy(&bits, &value, sizeof bits);
  AddPinEvent(time_stamp, pin, status, bits);
}

void* Instance::PinVariable(int32_t pin) {
  PinProperties properties;
  std::memset(&properties, 0, sizeof properties);
  return DescribePin(pin, &properties) ? properties.variable : nullptr;
}

void Instance::ConnectBuffer(int32_t pin, float* buffer) {
  void* variable = PinVariable(pin);
  if (variable != nullptr) std::memcpy(variable, &buffer, sizeof buffer);
}

}  // namespace wbhost
