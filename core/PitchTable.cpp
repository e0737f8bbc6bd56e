#include "PitchTable.h"

#include <atomic>
#include <cmath>
#include <mutex>
#include <new>

#include "FpuControl.h"

namespace {

// Computed once, when the library loads.
const double g_ln2 = std::log(2.0);
const double g_ln440 = std::log(440.0);

// The control bits that can change a table's bits: MXCSR rounding (13-14),
// flush-to-zero (15) and denormals-are-zero (6), for SSE arithmetic and an
// SSE logarithm; x87 precision (8-9) and rounding (10-11), for a logarithm
// on the x87 unit (as i386 libraries may do). Exception masks change no bits.
constexpr uint32_t kMxcsrTableBits = 0xE040;
constexpr uint32_t kX87TableBits = 0x0F00;

uint32_t TableKey(const FpuControlWords& words) {
  return (words.mxcsr & kMxcsrTableBits) | (words.x87 & kX87TableBits) << 16;
}

struct SharedTable {
  uint32_t key;
  const SharedTable* next;
  float entry[kPitchTableSize];
};

// Published tables, newest first. A table is complete before the release
// store that publishes it, and never changes after.
std::atomic<const SharedTable*> g_tables{nullptr};
std::mutex g_build_mutex;  // one build at a time, so a state's table is built once
// The first state's table (the only one most processes need) takes no heap.
SharedTable g_first_table;

const SharedTable* Find(uint32_t key) {
  for (const SharedTable* t = g_tables.load(std::memory_order_acquire); t != nullptr; t = t->next)
    if (t->key == key) return t;
  return nullptr;
}

// Releases the tables built on the heap when the library unloads.
struct HeapTables {
  ~HeapTables() {
    const SharedTable* t = g_tables.exchange(nullptr);
    while (t != nullptr) {
      const SharedTable* next = t->next;
      if (t != &g_first_table) delete t;
      t = next;
    }
  }
} g_heap_tables;

}  // namespace

void BuildPitchTable(float* table) {
  table[0] = -0.9f;
  for (int32_t i = 1; i < kPitchTableSize; ++i) {
    table[i] =
        static_cast<float>(((std::log(static_cast<double>(i)) - g_ln440) / g_ln2 + 5.0f) * 0.1);
  }
}

const float* SharedPitchTable() {
  const uint32_t key = TableKey(ReadFpuControlWords());
  if (const SharedTable* found = Find(key)) return found->entry;

  std::lock_guard<std::mutex> lock(g_build_mutex);
  if (const SharedTable* found = Find(key)) return found->entry;  // built while we waited
  const SharedTable* head = g_tables.load(std::memory_order_relaxed);
  SharedTable* table = head == nullptr ? &g_first_table : new (std::nothrow) SharedTable;
  // Out of memory: the first state's table, close to this state's but not
  // its bits, rather than none.
  if (table == nullptr) return g_first_table.entry;
  table->key = key;
  table->next = head;
  BuildPitchTable(table->entry);
  g_tables.store(table, std::memory_order_release);
  return table->entry;
}
