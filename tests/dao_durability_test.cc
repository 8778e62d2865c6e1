// Durability: every operation commits when it returns, a killed process
// leaves an intact file, and a write that meets another connection's lock
// gives a clear error instead of hanging.

#include <gtest/gtest.h>
#include <signal.h>
#include <sqlite3.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <thread>

#include "platform/dao/dao.h"
#include "tests/dao_fixture.h"

namespace dao_test {
namespace {

std::string IntegrityCheck(const std::string& path) {
  sqlite3* raw = nullptr;
  sqlite3_open_v2(path.c_str(), &raw, SQLITE_OPEN_READWRITE, nullptr);
  sqlite3_stmt* st = nullptr;
  sqlite3_prepare_v2(raw, "PRAGMA integrity_check", -1, &st, nullptr);
  std::string result;
  if (sqlite3_step(st) == SQLITE_ROW) {
    result = reinterpret_cast<const char*>(sqlite3_column_text(st, 0));
  }
  sqlite3_finalize(st);
  sqlite3_close(raw);
  return result;
}

TEST_F(DaoTest, KilledWriterLeavesAnIntactFileWithEveryReturnedWrite) {
  Table("t", {{"n", dao::dbLong}, {"s", dao::dbText, 50}});
  db.Close();
  int pipe_fds[2];
  ASSERT_EQ(pipe(pipe_fds), 0);
  pid_t child = fork();
  ASSERT_GE(child, 0);
  if (child == 0) {
    close(pipe_fds[0]);
    dao::Database mine = ws.OpenDatabase(mdb);
    for (int32_t i = 1;; ++i) {
      dao::Recordset rs = mine.OpenRecordset("t", dao::dbOpenTable);
      rs.AddNew();
      rs.Fields(0).SetValue(i);
      rs.Fields(1).SetValue("row");
      rs.Update();
      // Tell the parent how many writes have returned.
      if (write(pipe_fds[1], &i, sizeof i) != sizeof i) _exit(1);
      if (i % 50 == 0) {
        mine.Execute("UPDATE t SET t.s = 'again' WHERE t.n = " + std::to_string(i) + ";");
      }
    }
  }
  close(pipe_fds[1]);
  int32_t returned = 0, value = 0;
  while (returned < 200 && read(pipe_fds[0], &value, sizeof value) == sizeof value) {
    returned = value;
  }
  kill(child, SIGKILL);
  waitpid(child, nullptr, 0);
  while (read(pipe_fds[0], &value, sizeof value) == sizeof value) returned = value;
  close(pipe_fds[0]);
  ASSERT_GE(returned, 200);
  EXPECT_EQ(IntegrityCheck(mdb), "ok");
  db = ws.OpenDatabase(mdb);
  EXPECT_GE(static_cast<int32_t>(RowsOf("t").size()), returned);
}

TEST_F(DaoTest, WriteBlockedByAnotherConnectionsTransactionIsRefusedClearly) {
  Table("t", {{"n", dao::dbLong}});
  dao::Workspace other = dao::DBEngine::Instance().CreateWorkspace("", "Owner", "Secret1");
  dao::Database second = other.OpenDatabase(mdb);
  other.BeginTrans();
  second.Execute("DELETE FROM t WHERE t.n = 1;");  // no row: takes no write lock
  dao::Recordset rs = second.OpenRecordset("t", dao::dbOpenTable);
  rs.AddNew();
  rs.Fields(0).SetValue(int32_t{1});
  rs.Update();  // now the other workspace holds the write lock
  const auto start = std::chrono::steady_clock::now();
  EXPECT_EQ(ErrorOf([&] { Insert("t", {int32_t{2}}); }), 3260);
  EXPECT_LT(std::chrono::steady_clock::now() - start, std::chrono::seconds(10));
  other.CommitTrans();
  Insert("t", {int32_t{2}});
  EXPECT_EQ(RowsOf("t"), (std::vector<std::string>{"1", "2"}));
}

}  // namespace
}  // namespace dao_test
