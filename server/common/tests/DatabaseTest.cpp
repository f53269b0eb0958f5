#include <gtest/gtest.h>

#include <atomic>
#include <cstdlib>
#include <filesystem>
#include <thread>
#include <vector>

#include "tavsrv/Database.h"

namespace fs = std::filesystem;
using namespace tavsrv;

namespace {
fs::path tempDir() {
  std::string pattern = (fs::temp_directory_path() / "tavdbXXXXXX").string();
  return fs::path(mkdtemp(pattern.data()));
}
}  // namespace

TEST(DatabaseTest, BindsTypedValuesAndTextWithQuotesStaysData) {
  const fs::path dir = tempDir();
  Connection db((dir / "t.db").string());
  db.exec("CREATE TABLE t(id INTEGER PRIMARY KEY, name TEXT, score REAL, note TEXT)");
  const std::string hostile = "x'); DROP TABLE t; --\"";
  db.run("INSERT INTO t(name, score, note) VALUES(?1, ?2, ?3)", hostile, 2.5, nullptr);
  EXPECT_EQ(db.lastInsertId(), 1);
  Statement st = db.prepare("SELECT name, score, note FROM t WHERE id = ?1");
  st.bind(1);
  ASSERT_TRUE(st.step());
  EXPECT_EQ(st.text(0), hostile);
  EXPECT_DOUBLE_EQ(st.real(1), 2.5);
  EXPECT_TRUE(st.isNull(2));
  EXPECT_FALSE(st.step());
  EXPECT_EQ(db.queryInt("SELECT COUNT(*) FROM t").value(), 1);
  EXPECT_FALSE(db.queryText("SELECT name FROM t WHERE id = 99"));
  EXPECT_THROW(db.exec("SELECT * FROM missing"), DbError);
  EXPECT_EQ(integrityCheck(db), "ok");
  fs::remove_all(dir);
}

TEST(DatabaseTest, SameStatementCanBeUsedNested) {
  const fs::path dir = tempDir();
  Connection db((dir / "t.db").string());
  db.exec("CREATE TABLE t(v INTEGER); INSERT INTO t VALUES(1),(2)");
  Statement outer = db.prepare("SELECT v FROM t ORDER BY v");
  int rows = 0;
  while (outer.step()) {
    Statement inner = db.prepare("SELECT v FROM t ORDER BY v");
    ASSERT_TRUE(inner.step());
    EXPECT_EQ(inner.int64(0), 1);
    ++rows;
  }
  EXPECT_EQ(rows, 2);
  fs::remove_all(dir);
}

TEST(DatabaseTest, TransactionRollsBackUnlessCommitted) {
  const fs::path dir = tempDir();
  Connection db((dir / "t.db").string());
  db.exec("CREATE TABLE t(v INTEGER)");
  {
    Transaction tx(db);
    db.run("INSERT INTO t VALUES(1)");
  }
  EXPECT_EQ(db.queryInt("SELECT COUNT(*) FROM t").value(), 0);
  {
    Transaction tx(db);
    db.run("INSERT INTO t VALUES(1)");
    tx.commit();
  }
  EXPECT_EQ(db.queryInt("SELECT COUNT(*) FROM t").value(), 1);
  fs::remove_all(dir);
}

// Many threads withdrawing from one balance through separate pooled connections:
// the immediate transactions serialise, so the balance never goes negative and
// exactly the affordable number of withdrawals succeed.
TEST(DatabaseTest, PooledImmediateTransactionsSerialiseReadModifyWrite) {
  const fs::path dir = tempDir();
  const std::string path = (dir / "t.db").string();
  {
    Connection db(path);
    db.exec("CREATE TABLE account(id INTEGER PRIMARY KEY, balance INTEGER NOT NULL)");
    db.run("INSERT INTO account VALUES(1, 10)");
  }
  ConnectionPool pool(path, 4);
  std::atomic<int> succeeded{0};
  std::vector<std::thread> threads;
  for (int t = 0; t < 8; ++t) {
    threads.emplace_back([&] {
      for (int i = 0; i < 5; ++i) {
        auto lease = pool.acquire();
        Transaction tx(*lease);
        const int64_t balance = lease->queryInt("SELECT balance FROM account WHERE id = 1").value();
        if (balance >= 1) {
          lease->run("UPDATE account SET balance = ?1 WHERE id = 1", balance - 1);
          tx.commit();
          ++succeeded;
        }
      }
    });
  }
  for (auto& thread : threads)
    thread.join();
  auto lease = pool.acquire();
  EXPECT_EQ(succeeded.load(), 10);
  EXPECT_EQ(lease->queryInt("SELECT balance FROM account").value(), 0);
  fs::remove_all(dir);
}
