// The spool file: what a run keeps and the next one gets back, a damaged file, and a
// spool that cannot be written. Real files in the test's temporary folder.
#include "app/spool.h"

#include <gtest/gtest.h>

#include <cstdio>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <string>

#include "log/console_log.h"
#include "routing/destination_specification.h"
#include "support/fakes.h"

namespace kelvor {
namespace {

std::string ReadAll(const std::string& path) {
  std::ifstream file(path, std::ios::binary);
  return std::string(std::istreambuf_iterator<char>(file), {});
}

void WriteAll(const std::string& path, const std::string& bytes) {
  std::ofstream(path, std::ios::binary | std::ios::trunc) << bytes;
}

// One run's queue and destinations.
struct RunState {
  explicit RunState(std::initializer_list<const char*> specifications) {
    for (const char* specification : specifications) {
      std::string text = specification;
      destinations.Add(ParseDestination(&text[0]));
    }
  }
  void Pend(int index, const std::string& text) {
    ASSERT_TRUE(destinations[index].RestoreBatch(text.c_str(), 0));
  }

  test::FakeConsole console;
  ConsoleLog log{console, nullptr};
  OutgoingQueue queue{log};
  DestinationList destinations;
};

class SpoolTest : public ::testing::Test {
 protected:
  void SetUp() override {
    path = testing::TempDir() + "kelvor-spool-" +
           testing::UnitTest::GetInstance()->current_test_info()->name();
    std::remove(path.c_str());
    std::remove((path + ".bad").c_str());
  }
  // The first run: three SMS, the first sent once already, and two pending batches.
  void FillAndWrite(Spool& spool, RunState& first) {
    first.queue.QueueMessage("one", "+11");
    first.queue.QueueMessage("two", "+12");
    first.queue.CountAttempt();
    first.queue.QueueMessage("three", "+13");
    first.Pend(0, "7/06:05\nFeed flow high\n");
    first.Pend(2, "Fix Alarms\n7/06:06\nTIC200\n");
    ASSERT_EQ(spool.WriteIfChanged(first.queue, first.destinations), Spool::kWritten);
  }

  std::string path;
};

TEST_F(SpoolTest, TheNextRunGetsTheQueueWithItsSendingsAndEachBatchAtItsNumber) {
  Spool spool(path.c_str());
  RunState first{"=+1,A,H,5", "=+2,A,H,5", "=+3,A,H,5,F"};
  FillAndWrite(spool, first);
  // Idle passes write nothing; any change writes.
  EXPECT_EQ(spool.WriteIfChanged(first.queue, first.destinations), Spool::kUnchanged);
  first.queue.RemoveHead();  // confirmed
  EXPECT_EQ(spool.WriteIfChanged(first.queue, first.destinations), Spool::kWritten);
  first.queue.CountAttempt();  // went out, not confirmed: sent again after the restart
  EXPECT_EQ(spool.WriteIfChanged(first.queue, first.destinations), Spool::kWritten);

  // The next run has +1 twice and no +3: its batch goes to the queue as an SMS.
  RunState next{"=+2,B,L,9", "=+1,A,H,5", "=+1,B,H,7"};
  Spool again(path.c_str());
  SpoolRestored restored = again.Restore(next.queue, next.destinations, 40000);
  EXPECT_TRUE(restored.found);
  EXPECT_FALSE(restored.reading.damaged);
  EXPECT_EQ(restored.sms, 2);
  EXPECT_EQ(restored.batches, 1);
  EXPECT_EQ(restored.orphans, 1);
  ASSERT_EQ(next.queue.Count(), 3);
  EXPECT_STREQ(next.queue.At(0).text, "two");
  EXPECT_EQ(next.queue.At(0).attempts, 1);
  EXPECT_STREQ(next.queue.At(1).number, "+13");
  EXPECT_EQ(next.queue.At(1).attempts, 0);
  EXPECT_STREQ(next.queue.At(2).text, "Fix Alarms\n7/06:06\nTIC200\n");
  EXPECT_STREQ(next.queue.At(2).number, "+3");
  EXPECT_FALSE(next.destinations[0].BatchPending());
  EXPECT_STREQ(next.destinations[1].Batch(), "7/06:05\nFeed flow high\n");
  EXPECT_EQ(next.destinations[1].Deadline(), 45000u);  // its delay from the restore on
  EXPECT_FALSE(next.destinations[2].BatchPending());
}

// Cut inside the last record, or with a byte changed in it: the records before it come
// back, the file is kept as path.bad and the spool's place is free for the next write.
TEST_F(SpoolTest, ADamagedFileGivesBackTheWholeRecordsBeforeTheDamageAndIsKeptAsBad) {
  Spool spool(path.c_str());
  RunState first{"=+1,A,H,5", "=+2,A,H,5", "=+3,A,H,5,F"};
  FillAndWrite(spool, first);
  const std::string whole = ReadAll(path);
  const size_t last = whole.find("Fix Alarms");
  const std::string damages[] = {
      whole.substr(0, last + 4),
      whole.substr(0, last) + "Fax" + whole.substr(last + 3),
  };
  for (const std::string& damaged : damages) {
    WriteAll(path, damaged);
    RunState next{"=+1,A,H,5", "=+3,A,H,5,F"};
    SpoolRestored restored = Spool(path.c_str()).Restore(next.queue, next.destinations, 0);
    EXPECT_TRUE(restored.reading.damaged);
    EXPECT_EQ(restored.reading.records, 4);
    EXPECT_EQ(next.queue.Count(), 3);
    EXPECT_TRUE(next.destinations[0].BatchPending());
    EXPECT_FALSE(next.destinations[1].BatchPending());
    EXPECT_TRUE(restored.keptBad);
    EXPECT_EQ(ReadAll(path + ".bad"), damaged);
    EXPECT_FALSE(std::ifstream(path).good());
  }
}

TEST_F(SpoolTest, AFailedWriteIsTriedAgainAtTheNextChangeOnly) {
  const std::string folder = path + "-missing";
  const std::string inFolder = folder + "/spool";
  Spool spool(inFolder.c_str());
  RunState run{"=+1,A,H,5"};
  EXPECT_EQ(spool.WriteIfChanged(run.queue, run.destinations), Spool::kFailed);
  EXPECT_FALSE(spool.UpToDate());
  EXPECT_EQ(spool.WriteIfChanged(run.queue, run.destinations), Spool::kUnchanged);
  ASSERT_TRUE(std::filesystem::create_directory(folder));
  EXPECT_EQ(spool.WriteIfChanged(run.queue, run.destinations), Spool::kUnchanged);
  run.queue.QueueMessage("text", "+1");
  EXPECT_EQ(spool.WriteIfChanged(run.queue, run.destinations), Spool::kWritten);
  EXPECT_TRUE(spool.UpToDate());
  std::filesystem::remove_all(folder);
}

}  // namespace
}  // namespace kelvor
