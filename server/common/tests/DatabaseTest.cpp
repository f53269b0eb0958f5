// The store interface on both implementations: an SQLite file and a database of
// the program's own PostgreSQL server.
#include <gtest/gtest.h>

#include <atomic>
#include <cstdlib>
#include <filesystem>
#include <thread>
#include <vector>

#include "ScratchPostgres.h"
#include "tavsrv/Database.h"

namespace fs = std::filesystem;
using namespace tavsrv;

namespace {

class DatabaseTest : public ::testing::TestWithParam<Dialect> {
protected:
  void SetUp() override {
    if (GetParam() == Dialect::PostgreSQL) {
      auto& server = testsupport::ScratchPostgres::shared();
      if (!server.ok())
        GTEST_SKIP() << "no PostgreSQL server: " << server.why();
      location_ = server.createDatabase();
      ASSERT_FALSE(location_.empty()) << server.why();
    } else {
      std::string pattern = (fs::temp_directory_path() / "tavdbXXXXXX").string();
      dir_ = mkdtemp(pattern.data());
      location_ = (dir_ / "t.db").string();
    }
  }
  void TearDown() override {
    if (!dir_.empty())
      fs::remove_all(dir_);
    if (GetParam() == Dialect::PostgreSQL && !location_.empty())
      testsupport::ScratchPostgres::shared().dropDatabase(location_);
  }
  std::unique_ptr<Connection> open() { return openConnection(location_); }
  // A table with an id the store gives, in each engine's words for it.
  std::string idColumn() const {
    return GetParam() == Dialect::SQLite ? "id INTEGER PRIMARY KEY" : "id BIGSERIAL PRIMARY KEY";
  }

  fs::path dir_;
  std::string location_;
};

TEST_P(DatabaseTest, BindsTypedValuesAndTextWithQuotesStaysData) {
  auto db = open();
  EXPECT_EQ(db->dialect(), GetParam());
  db->exec("CREATE TABLE t(" + idColumn() + ", name TEXT, score REAL, note TEXT, ms BIGINT)");
  const std::string hostile = "x'); DROP TABLE t; --\" ?1 $1";
  const int64_t ms = 1700000000123;  // milliseconds need 64 bits
  db->run("INSERT INTO t(name, score, note, ms) VALUES(?1, ?2, ?3, ?4)", hostile, 2.5, nullptr, ms);
  EXPECT_EQ(db->lastInsertId(), 1);
  db->run("INSERT INTO t(name, ms) VALUES(?1, ?2)", "二", int64_t{-1});
  EXPECT_EQ(db->lastInsertId(), 2);
  Statement st = db->prepare("SELECT name, score, note, ms, '?1' FROM t WHERE id = ?1");
  st.bind(1);
  ASSERT_TRUE(st.step());
  EXPECT_EQ(st.text(0), hostile);
  EXPECT_DOUBLE_EQ(st.real(1), 2.5);
  EXPECT_TRUE(st.isNull(2));
  EXPECT_EQ(st.int64(3), ms);
  EXPECT_EQ(st.text(4), "?1");  // a literal is not a parameter
  EXPECT_FALSE(st.step());
  EXPECT_EQ(db->queryInt("SELECT COUNT(*) FROM t WHERE ms > ?1", int64_t{0}), 1);
  EXPECT_EQ(db->queryInt("SELECT EXISTS(SELECT 1 FROM t WHERE name = ?1)", "二"), 1);
  EXPECT_FALSE(db->queryText("SELECT name FROM t WHERE id = 99"));
  db->run("UPDATE t SET note = ?1 WHERE id >= ?2", "n", 1);
  EXPECT_EQ(db->changes(), 2);
  EXPECT_THROW(db->exec("SELECT * FROM missing"), DbError);
  EXPECT_EQ(integrityCheck(*db), "ok");
}

TEST_P(DatabaseTest, ConstraintsAreToldApartAndSchemaVersionsKept) {
  auto db = open();
  db->exec("CREATE TABLE t(" + idColumn() + ", name TEXT NOT NULL UNIQUE)");
  db->run("INSERT INTO t(id, name) VALUES(7, 'a')");
  try {
    db->run("INSERT INTO t(name) VALUES('a')");
    ADD_FAILURE() << "a duplicate went in";
  } catch (const DbError& error) {
    EXPECT_TRUE(error.constraint()) << error.what();
  }
  // After ids given explicitly, new rows continue above them.
  db->continueIdsAfter("t");
  db->run("INSERT INTO t(name) VALUES('b')");
  EXPECT_EQ(db->lastInsertId(), 8);
  EXPECT_EQ(db->schemaVersion(), 0);
  db->setSchemaVersion(4);
  EXPECT_EQ(open()->schemaVersion(), 4);
}

TEST_P(DatabaseTest, SameStatementCanBeUsedNested) {
  auto db = open();
  db->exec("CREATE TABLE t(v INTEGER); INSERT INTO t VALUES(1),(2)");
  Statement outer = db->prepare("SELECT v FROM t ORDER BY v");
  int rows = 0;
  while (outer.step()) {
    Statement inner = db->prepare("SELECT v FROM t ORDER BY v");
    ASSERT_TRUE(inner.step());
    EXPECT_EQ(inner.int64(0), 1);
    ++rows;
  }
  EXPECT_EQ(rows, 2);
}

TEST_P(DatabaseTest, TransactionRollsBackUnlessCommittedAndAFailedOneDoesNotCommit) {
  auto db = open();
  db->exec("CREATE TABLE t(v INTEGER UNIQUE)");
  {
    Transaction tx(*db);
    db->run("INSERT INTO t VALUES(1)");
  }
  EXPECT_EQ(db->queryInt("SELECT COUNT(*) FROM t").value(), 0);
  {
    Transaction tx(*db);
    db->run("INSERT INTO t VALUES(1)");
    tx.commit();
  }
  EXPECT_EQ(db->queryInt("SELECT COUNT(*) FROM t").value(), 1);
  {
    Transaction tx(*db);
    db->run("INSERT INTO t VALUES(2)");
    EXPECT_THROW(db->run("INSERT INTO t VALUES(1)"), DbError);
    // SQLite keeps the statements before the failed one; PostgreSQL keeps none
    // and refuses to commit: either way nothing is half there unnoticed.
    try {
      tx.commit();
      EXPECT_EQ(GetParam(), Dialect::SQLite);
    } catch (const DbError&) {
      EXPECT_EQ(GetParam(), Dialect::PostgreSQL);
    }
  }
  const int64_t expected = GetParam() == Dialect::SQLite ? 2 : 1;
  EXPECT_EQ(db->queryInt("SELECT COUNT(*) FROM t").value(), expected);
}

// Many threads withdrawing from one balance through separate pooled connections:
// the write transactions serialise, so the balance never goes negative and
// exactly the affordable number of withdrawals succeed.
TEST_P(DatabaseTest, PooledWriteTransactionsSerialiseReadModifyWrite) {
  open()->exec(
      "CREATE TABLE account(id INTEGER PRIMARY KEY, balance INTEGER NOT NULL);"
      "INSERT INTO account VALUES(1, 10)");
  ConnectionPool pool(location_, 4);
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
}

// Key locks exclude each other across connections and leave other keys free.
TEST_P(DatabaseTest, KeyLocksExcludeHoldersOfTheSameKey) {
  auto a = open();
  auto b = open();
  std::atomic<int> inside{0}, most{0};
  const auto work = [&](Connection& db) {
    for (int i = 0; i < 20; ++i) {
      KeyLock lock(db, 42);
      most = std::max(most.load(), ++inside);
      std::this_thread::yield();
      --inside;
    }
  };
  std::thread other([&] { work(*b); });
  work(*a);
  other.join();
  EXPECT_EQ(most.load(), 1);
  KeyLock first(*a, 1);
  KeyLock second(*b, 2);  // another key does not wait
}

INSTANTIATE_TEST_SUITE_P(Stores, DatabaseTest,
                         ::testing::Values(Dialect::SQLite, Dialect::PostgreSQL),
                         [](const auto& info) {
                           return info.param == Dialect::SQLite ? "SQLite" : "PostgreSQL";
                         });

// A PostgreSQL connection whose server session ended is opened again on its
// next use; the statement that met the loss fails (nothing is run twice).
TEST(PostgresConnectionTest, ALostSessionIsOpenedAgain) {
  auto& server = testsupport::ScratchPostgres::shared();
  if (!server.ok())
    GTEST_SKIP() << "no PostgreSQL server: " << server.why();
  const std::string url = server.createDatabase();
  auto db = openConnection(url);
  auto admin = openConnection(url);
  const int64_t pid = db->queryInt("SELECT pg_backend_pid()").value();
  admin->run("SELECT pg_terminate_backend(CAST(?1 AS INTEGER))", pid);
  bool failed = false;
  try {
    db->queryInt("SELECT 1");
  } catch (const DbError& error) {
    failed = true;
    EXPECT_EQ(error.failure(), DbFailure::Unavailable) << error.what();
  }
  EXPECT_TRUE(failed);
  EXPECT_EQ(db->queryInt("SELECT 1"), 1);
  EXPECT_NE(db->queryInt("SELECT pg_backend_pid()"), pid);
  db.reset();
  admin.reset();
  server.dropDatabase(url);
}

}  // namespace
