// The record main hands out, and the dispatcher's answers.
#include <cstdint>
#include <cstring>

#include "ModuleFixture.h"

namespace {

uint32_t WordAt(const WBModule_record* record, size_t offset) {
  uint32_t word;
  std::memcpy(&word, reinterpret_cast<const uint8_t*>(record) + offset, sizeof word);
  return word;
}

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

// All 108 bytes as the host reads them: the four set words, zero elsewhere.
TEST_F(TonevoltTest, RecordBytesAreZeroApartFromTheSetWords) {
  ASSERT_NE(m_main, nullptr);
  wbhost::Instance instance;
  ASSERT_TRUE(instance.Create(m_main));
  const WBModule_record* record = instance.Record();
  EXPECT_EQ(WordAt(record, 0), 0x5742507Bu);
  EXPECT_EQ(WordAt(record, 4), reinterpret_cast<uintptr_t>(record->dispatcher));
  EXPECT_NE(WordAt(record, 4), 0u);
  EXPECT_NE(WordAt(record, 32), 0u);
  EXPECT_EQ(WordAt(record, 40), 1u);
  EXPECT_NE(WordAt(record, 44), 0u);
  EXPECT_NE(WordAt(record, 44), WordAt(record, 4));
  const uint8_t* bytes = reinterpret_cast<const uint8_t*>(record);
  for (size_t offset = 0; offset < 108; ++offset) {
    bool set_word = offset < 8 || (offset >= 32 && offset < 36) || (offset >= 40 && offset < 48);
    if (!set_word) {
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
  EXPECT_NE(WordAt(first.Record(), 32), WordAt(second.Record(), 32));
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
  uint8_t before[108];
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
