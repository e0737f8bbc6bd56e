// The record main hands out, and the dispatcher's answers.
#include <cstddef>
#include <cstdint>
#include <cstring>

#include "ModuleFixture.h"

namespace {

// The record's fields as a host reads them, by offset: 32-bit words, and
// addresses as wide as a pointer (the synthesizer's i386 layout puts each
// at the offset its name gives; a native x86-64 build has them wider).
uint32_t WordAt(const WBModule_record* record, size_t offset) {
  uint32_t word;
  std::memcpy(&word, reinterpret_cast<const uint8_t*>(record) + offset, sizeof word);
  return word;
}
uintptr_t AddressAt(const WBModule_record* record, size_t offset) {
  uintptr_t address;
  std::memcpy(&address, reinterpret_cast<const uint8_t*>(record) + offset, sizeof address);
  return address;
}
constexpr size_t kDispatcherAt = offsetof(WBModule_record, dispatcher);
constexpr size_t kObjectAt = offsetof(WBModule_record, object);
constexpr size_t kFlagAt = offsetof(WBModule_record, flag_40);
constexpr size_t kProcessAt = offsetof(WBModule_record, process);

TEST_F(TonevoltTest, MainReturnsRecordWithMagicAndEntries) {
  ASSERT_NE(m_main, nullptr);
  wbhost::Instance instance;
  ASSERT_TRUE(instance.Create(m_main));
  const WBModule_record* record = instance.Record();
  EXPECT_EQ(record->magic, 0x5742507Bu);
  EXPECT_EQ(std::memcmp(record, "{PBW", 4), 0);
  EXPECT_NE(record->dispatcher, nullptr);
  EXPECT_NE(record->process, nullptr);
  EXPECT_EQ(record->flag_40, 1u);
}

// Every byte as the host reads it (108 on i386): the five set fields, zero
// elsewhere, padding included.
TEST_F(TonevoltTest, RecordBytesAreZeroApartFromTheSetWords) {
  ASSERT_NE(m_main, nullptr);
  wbhost::Instance instance;
  ASSERT_TRUE(instance.Create(m_main));
  const WBModule_record* record = instance.Record();
  EXPECT_EQ(WordAt(record, 0), 0x5742507Bu);
  EXPECT_EQ(AddressAt(record, kDispatcherAt), reinterpret_cast<uintptr_t>(record->dispatcher));
  EXPECT_NE(AddressAt(record, kDispatcherAt), 0u);
  EXPECT_NE(AddressAt(record, kObjectAt), 0u);
  EXPECT_EQ(WordAt(record, kFlagAt), 1u);
  EXPECT_NE(AddressAt(record, kProcessAt), 0u);
  EXPECT_NE(AddressAt(record, kProcessAt), AddressAt(record, kDispatcherAt));
  auto within = [](size_t offset, size_t field, size_t size) {
    return offset >= field && offset < field + size;
  };
  const uint8_t* bytes = reinterpret_cast<const uint8_t*>(record);
  for (size_t offset = 0; offset < sizeof(WBModule_record); ++offset) {
    bool set_field = within(offset, 0, 4) || within(offset, kDispatcherAt, sizeof(void*)) ||
                     within(offset, kObjectAt, sizeof(void*)) || within(offset, kFlagAt, 4) ||
                     within(offset, kProcessAt, sizeof(void*));
    if (!set_field) {
      EXPECT_EQ(bytes[offset], 0) << "byte " << offset;
    }
  }
}

TEST_F(TonevoltTest, EachMainCallMakesItsOwnInstance) {
  ASSERT_NE(m_main, nullptr);
  wbhost::Instance first, second;
  ASSERT_TRUE(first.Create(m_main));
  ASSERT_TRUE(second.Create(m_main));
  EXPECT_NE(first.Record(), second.Record());
  EXPECT_NE(AddressAt(first.Record(), kObjectAt), AddressAt(second.Record(), kObjectAt));
  // The same code serves both: the entries are shared, the objects are not.
  EXPECT_EQ(first.Record()->dispatcher, second.Record()->dispatcher);
  EXPECT_EQ(first.Record()->process, second.Record()->process);

  // State is per instance: an event queued on one leaves the other empty.
  first.Open();
  second.Open();
  first.AddPinEvent(1000, 2, STATUS_STATIC, 4);
  EXPECT_FALSE(first.QueueEmpty());
  EXPECT_TRUE(second.QueueEmpty());
}

// Answers of every opcode with a null pointer, on a fresh instance, in this
// order (the open comes first so that ADD_EVENT would have a clock).
struct OpcodeAnswer {
  int32_t opcode;
  int32_t answer;
};
constexpr OpcodeAnswer kNullPointerAnswers[] = {
    {DISPATCH_OPEN, 0},
    {DISPATCH_SET_SAMPLE_RATE, 0},
    {DISPATCH_SET_BLOCK_SIZE, 0},
    {DISPATCH_QUERY_4, 0},
    {DISPATCH_QUERY_5, 0},
    {DISPATCH_GET_PIN_PROPERTIES, 0},  // null record: nothing to describe into
    {DISPATCH_ADD_EVENT, 0},           // null event: nothing queued
    {DISPATCH_RESUME, 0},
    {DISPATCH_GET_MODULE_PROPERTIES, 0},
    {DISPATCH_QUEUE_EMPTY, 1},
    {11, 0},
    {-1, 0},
    {INT32_MIN, 0},
    {INT32_MAX, 0},
};

TEST_F(TonevoltTest, DispatcherAnswersWithANullPointer) {
  ASSERT_NE(m_main, nullptr);
  wbhost::Instance instance;
  ASSERT_TRUE(instance.Create(m_main));
  uint8_t before[sizeof(WBModule_record)];
  std::memcpy(before, instance.Record(), sizeof before);
  for (const OpcodeAnswer& c : kNullPointerAnswers) {
    EXPECT_EQ(instance.Dispatch(c.opcode, 1, 1, nullptr, 48000.0f), c.answer)
        << "opcode " << c.opcode;
    EXPECT_EQ(std::memcmp(before, instance.Record(), sizeof before), 0) << "opcode " << c.opcode;
  }
  EXPECT_TRUE(instance.QueueEmpty());
  EXPECT_EQ(instance.Close(), 1);
}

TEST_F(TonevoltTest, DispatcherAnswersWithRecords) {
  ASSERT_NE(m_main, nullptr);
  wbhost::Instance instance;
  ASSERT_TRUE(instance.Create(m_main));
  uint32_t host_words[8] = {};  // the base answers false for any pointer
  EXPECT_EQ(instance.Dispatch(DISPATCH_QUERY_4, 0, 0, host_words), 0);
  EXPECT_EQ(instance.Dispatch(DISPATCH_QUERY_5, 0, 0, host_words), 0);
  PinProperties pin = {};
  EXPECT_EQ(instance.Dispatch(DISPATCH_GET_PIN_PROPERTIES, 0, 0, &pin), 1);
  EXPECT_EQ(instance.Dispatch(DISPATCH_GET_PIN_PROPERTIES, 6, 0, &pin), 0);
  ModuleProperties module = {};
  EXPECT_EQ(instance.Dispatch(DISPATCH_GET_MODULE_PROPERTIES, 0, 0, &module), 1);

  instance.Open();
  EXPECT_EQ(instance.Dispatch(DISPATCH_QUEUE_EMPTY), 1);
  WbEvent event = {500, EVENT_PIN_STATUS, STATUS_STATIC, 4, reinterpret_cast<void*>(2), nullptr};
  EXPECT_EQ(instance.Dispatch(DISPATCH_ADD_EVENT, 0, 0, &event), 0);
  EXPECT_EQ(instance.Dispatch(DISPATCH_QUEUE_EMPTY), 0);
  EXPECT_EQ(instance.Dispatch(11), 0);
  EXPECT_EQ(instance.Dispatch(-1), 0);
  EXPECT_EQ(instance.Dispatch(DISPATCH_QUEUE_EMPTY), 0);  // unknown opcodes touch nothing
  EXPECT_EQ(instance.Close(), 1);
}

// No host callback: the clock and the host's pin count read 0, and the
// instance still opens, describes itself, takes events and processes.
TEST_F(TonevoltTest, WorksWithoutAHostCallback) {
  ASSERT_NE(m_main, nullptr);
  wbhost::Instance instance;
  ASSERT_TRUE(instance.Create(m_main, /*with_callback=*/false));
  instance.Open();
  ModuleProperties module = {};
  ASSERT_TRUE(instance.DescribeModule(&module));
  EXPECT_STREQ(module.name, "Tonevolt");

  float input[64];
  float output[64];
  for (int i = 0; i < 64; ++i) input[i] = (i / 4) % 2 != 0 ? 0.5f : -0.5f;
  std::memset(output, 0xFF, sizeof output);  // NaN: any written sample shows
  instance.ConnectBuffer(0, input);
  instance.ConnectBuffer(3, output);
  instance.AddPinEvent(0, 0, STATUS_STREAMING, 0);  // clock 0: no host to ask
  instance.AddPinEvent(32, 2, STATUS_STATIC, 4);
  instance.Process(0, 64);
  EXPECT_TRUE(instance.QueueEmpty());
  for (int i = 0; i < 64; ++i) EXPECT_EQ(output[i], output[i]) << "sample " << i;
  instance.Resume();  // the clock reads 0 again
  instance.AddPinEvent(0, 2, STATUS_STATIC, 3);
  instance.Process(0, 1);
  EXPECT_TRUE(instance.QueueEmpty());
  EXPECT_EQ(instance.Close(), 1);
}

}  // namespace
