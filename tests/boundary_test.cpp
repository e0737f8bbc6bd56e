// The record main hands out, and the dispatcher's answers.
#include <cstring>

#include "ModuleFixture.h"

namespace {

TEST_F(TonevoltTest, MainReturnsRecordWithMagicAndEntries) {
  ASSERT_NE(main_, nullptr);
  wbhost::Instance instance;
  ASSERT_TRUE(instance.Create(main_));
  const WBModule_record* record = instance.Record();
  EXPECT_EQ(record->magic, 0x5742507Bu);
  EXPECT_EQ(std::memcmp(record, "{PBW", 4), 0);
  EXPECT_NE(record->dispatcher, nullptr);
  EXPECT_NE(record->process, nullptr);
  EXPECT_EQ(record->flag_40, 1u);
}

}  // namespace
