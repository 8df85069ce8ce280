// RecordBatch against a vector of records: random appends (empty and long texts, embedded NULs,
// lengths that leave the heads at every alignment, bursts past the kept block size), clears and
// swaps between two batches give back every record, whole and in order.
#include <gtest/gtest.h>

#include <random>
#include <string>
#include <vector>

#include "record_batch.h"

namespace {

struct ModelRecord {
  int level;
  int64_t sec;
  int64_t usec;
  std::string type;
  std::string msg;
};

std::string RandomText(std::mt19937_64& rng, size_t maxLen) {
  std::string text(rng() % (maxLen + 1), '\0');
  for (char& c : text) {
    c = static_cast<char>(rng() % 256);
  }
  return text;
}

void ExpectSame(const moxlog::RecordBatch& batch, const std::vector<ModelRecord>& model, int op) {
  ASSERT_EQ(batch.size(), model.size()) << "op " << op;
  ASSERT_EQ(batch.empty(), model.empty());
  size_t i = 0;
  for (const moxlog::PendingRecord record : batch) {
    ASSERT_LT(i, model.size()) << "op " << op;
    const ModelRecord& want = model[i];
    EXPECT_EQ(record.level, want.level) << "op " << op << " record " << i;
    EXPECT_EQ(record.time.sec, want.sec);
    EXPECT_EQ(record.time.usec, want.usec);
    EXPECT_EQ(std::string(record.logType), want.type) << "op " << op << " record " << i;
    EXPECT_EQ(std::string(record.logMsg), want.msg) << "op " << op << " record " << i;
    ++i;
  }
  EXPECT_EQ(i, model.size());
}

TEST(RecordBatch, AppendsClearsAndSwapsMatchAModel) {
  std::mt19937_64 rng(77);
  moxlog::RecordBatch batches[2];
  std::vector<ModelRecord> models[2];
  for (int op = 0; op < 4000; ++op) {
    const size_t which = rng() % 2;
    const unsigned pick = static_cast<unsigned>(rng() % 100);
    if (pick < 85) {
      // Now and then a burst that takes the block past what a cleared batch keeps.
      const int count = rng() % 50 == 0 ? 3000 : 1;
      for (int k = 0; k < count; ++k) {
        ModelRecord r{static_cast<int>(rng() % 9) - 1, static_cast<int64_t>(rng()), static_cast<int64_t>(rng() % 1000000),
                      RandomText(rng, rng() % 4 == 0 ? 40 : 7), RandomText(rng, rng() % 8 == 0 ? 600 : 90)};
        batches[which].Append(r.level, moxlog::LogClock{r.sec, r.usec}, r.type.data(), r.type.size(), r.msg.data(),
                              r.msg.size());
        models[which].push_back(std::move(r));
      }
    } else if (pick < 93) {
      ExpectSame(batches[which], models[which], op);  // what the flush thread reads before it clears
      batches[which].Clear();
      models[which].clear();
    } else {
      batches[0].swap(batches[1]);
      models[0].swap(models[1]);
    }
    if (HasFatalFailure()) {
      return;
    }
  }
  ExpectSame(batches[0], models[0], -1);
  ExpectSame(batches[1], models[1], -1);
}

}  // namespace
