// The progress hook: it runs between the engine's calls and inside a long
// statement, at most once per interval, and changes nothing of the engine's
// work: not the rows, not the result, not the trace, and an error it raises
// neither cuts the statement short nor reaches the caller.

#include <gtest/gtest.h>

#include <chrono>
#include <string>
#include <vector>

#include "platform/dao/dao.h"
#include "platform/dao/progress.h"
#include "platform/error.h"
#include "tests/dao_fixture.h"

namespace dao_test {
namespace {

using namespace std::chrono_literals;

constexpr int kRows = 20000;

class ProgressTest : public DaoTest {
 protected:
  void SetUp() override {
    DaoTest::SetUp();
    Table("persons", {{"id", dao::dbLong}, {"n", dao::dbLong}});
    Sqlite(mdb, "WITH RECURSIVE k(i) AS (SELECT 1 UNION ALL SELECT i + 1 FROM k WHERE i < " +
                    std::to_string(kRows) + ") INSERT INTO persons (id, n) SELECT i, 0 FROM k;");
  }
  void TearDown() override { dao::SetProgressHook(nullptr); }

  int runs = 0;
};

TEST_F(ProgressTest, TheHookRunsInsideALongStatementAndChangesNothingOfIt) {
  struct Case {
    const char* name;
    dao::ProgressHook hook;
  };
  const std::vector<Case> cases = {
      {"no hook", nullptr},
      {"a hook", [this] { ++runs; }},
      {"a hook that fails",
       [this] {
         ++runs;
         throw kav::Error(5, "the hook failed", "Test");
       }},
  };
  std::vector<std::string> first_trace;
  for (size_t c = 0; c < cases.size(); ++c) {
    SCOPED_TRACE(cases[c].name);
    Sqlite(mdb, "UPDATE persons SET n = 0;");
    runs = 0;
    dao::SetProgressHook(cases[c].hook, 0ms);
    kav::testing::TraceRecorder trace(true);
    // Every row once, in one statement of many steps.
    db.Execute("UPDATE persons SET persons.n = persons.id;", dao::dbFailOnError);
    dao::SetProgressHook(nullptr);
    EXPECT_EQ(db.RecordsAffected(), kRows);
    EXPECT_EQ(Query(mdb, "SELECT count(*) FROM persons WHERE n = id"),
              std::vector<std::string>{std::to_string(kRows)});
    if (cases[c].hook) {
      // More than the one chance before the call: SQLite's, inside it.
      EXPECT_GT(runs, 1);
    }
    if (c == 0) {
      first_trace = trace.lines();
    } else {
      EXPECT_EQ(trace.lines(), first_trace);
    }
  }
}

TEST_F(ProgressTest, TheHookRunsAtMostOncePerIntervalAndNotOnceRemoved) {
  auto small_calls = [this] {
    for (int i = 0; i < 50; ++i) {
      db.Execute("UPDATE persons SET persons.n = 0 WHERE persons.id = " + std::to_string(i) + ";");
    }
  };
  // The first chance runs the hook at once; the next ones fall within the
  // hour.
  dao::SetProgressHook([this] { ++runs; }, std::chrono::hours(1));
  small_calls();
  EXPECT_EQ(runs, 1);
  // Without an interval every call gives it a chance.
  runs = 0;
  dao::SetProgressHook([this] { ++runs; }, 0ms);
  small_calls();
  EXPECT_GE(runs, 50);
  runs = 0;
  dao::SetProgressHook(nullptr);
  small_calls();
  EXPECT_EQ(runs, 0);
}

}  // namespace
}  // namespace dao_test
