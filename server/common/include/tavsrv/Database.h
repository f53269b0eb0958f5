// A small SQLite wrapper: connections opened for safe concurrent use (WAL,
// synchronous=FULL so an acknowledged commit survives a killed process, foreign
// keys, a busy time-out), cached prepared statements with typed binding, write
// transactions that take the write lock up front (BEGIN IMMEDIATE) and a pool
// of connections shared by request threads.
//
// Failures throw DbError; callers at the edge turn it into a refusal.
#pragma once

#include <condition_variable>
#include <cstdint>
#include <memory>
#include <mutex>
#include <optional>
#include <stdexcept>
#include <string>
#include <unordered_map>
#include <vector>

struct sqlite3;
struct sqlite3_stmt;

namespace tavsrv {

class DbError : public std::runtime_error {
public:
  DbError(int sqliteCode, const std::string& what)
      : std::runtime_error(what), sqliteCode_(sqliteCode) {}
  int sqliteCode() const { return sqliteCode_; }

private:
  int sqliteCode_;
};

class Connection;

// One use of a prepared statement. Bind with bind(...), then step() once per row.
// The statement returns to its connection's cache (reset) when this ends.
class Statement {
public:
  Statement(Statement&& other) noexcept;
  Statement& operator=(Statement&&) = delete;
  Statement(const Statement&) = delete;
  ~Statement();

  // Binds the arguments to ?1, ?2, ... in order.
  template <class... Args>
  Statement& bind(const Args&... args) {
    [[maybe_unused]] int index = 1;
    (bindOne(index++, args), ...);
    return *this;
  }
  Statement& bindOne(int index, int64_t value);
  Statement& bindOne(int index, int value) { return bindOne(index, static_cast<int64_t>(value)); }
  Statement& bindOne(int index, uint32_t value) {
    return bindOne(index, static_cast<int64_t>(value));
  }
  Statement& bindOne(int index, bool value) { return bindOne(index, value ? 1 : 0); }
  Statement& bindOne(int index, double value);
  Statement& bindOne(int index, const std::string& value);
  Statement& bindOne(int index, const char* value) { return bindOne(index, std::string(value)); }
  Statement& bindOne(int index, std::nullptr_t);
  template <class T>
  Statement& bindOne(int index, const std::optional<T>& value) {
    return value ? bindOne(index, *value) : bindOne(index, nullptr);
  }

  // Advances to the next row; false when there is none (the statement is done).
  bool step();
  // Runs a statement that returns no rows.
  void run();

  int64_t int64(int column) const;
  double real(int column) const;
  std::string text(int column) const;
  bool isNull(int column) const;

private:
  friend class Connection;
  Statement(Connection* owner, sqlite3_stmt* stmt, bool cached);
  void check(int rc, const char* what) const;

  Connection* owner_;
  sqlite3_stmt* stmt_;
  bool cached_;
};

struct ConnectionOptions {
  bool readOnly = false;
  int busyTimeoutMs = 10000;
};

class Connection {
public:
  explicit Connection(const std::string& path, const ConnectionOptions& options = {});
  ~Connection();
  Connection(const Connection&) = delete;
  Connection& operator=(const Connection&) = delete;

  // Runs one or more statements without parameters (schema, pragmas).
  void exec(const std::string& sql);
  // A cached prepared statement for sql (SQL text is the cache key).
  Statement prepare(const std::string& sql);

  // Shortcuts: run a statement; query a single integer or text (nullopt: no row or NULL).
  template <class... Args>
  void run(const std::string& sql, const Args&... args) {
    prepare(sql).bind(args...).run();
  }
  template <class... Args>
  std::optional<int64_t> queryInt(const std::string& sql, const Args&... args) {
    Statement st = prepare(sql);
    st.bind(args...);
    if (!st.step() || st.isNull(0))
      return std::nullopt;
    return st.int64(0);
  }
  template <class... Args>
  std::optional<std::string> queryText(const std::string& sql, const Args&... args) {
    Statement st = prepare(sql);
    st.bind(args...);
    if (!st.step() || st.isNull(0))
      return std::nullopt;
    return st.text(0);
  }

  int64_t lastInsertId() const;
  int changes() const;
  sqlite3* handle() const { return db_; }

private:
  friend class Statement;
  void release(sqlite3_stmt* stmt);

  sqlite3* db_ = nullptr;
  std::unordered_map<std::string, sqlite3_stmt*> cache_;
  std::unordered_map<sqlite3_stmt*, bool> inUse_;
};

// Write transaction: BEGIN IMMEDIATE takes the write lock at once, so two
// transactions that read-then-write the same row run one after the other instead
// of failing on upgrade. Rolls back unless commit() was called.
class Transaction {
public:
  explicit Transaction(Connection& connection);
  ~Transaction();
  Transaction(const Transaction&) = delete;
  Transaction& operator=(const Transaction&) = delete;
  void commit();

private:
  Connection& connection_;
  bool done_ = false;
};

// A fixed set of connections to one database file; acquire() blocks until one
// is free. The lease gives it back when it ends.
class ConnectionPool {
public:
  ConnectionPool(const std::string& path, int size, const ConnectionOptions& options = {});
  ~ConnectionPool();

  class Lease {
  public:
    Lease(ConnectionPool* pool, Connection* connection) : pool_(pool), connection_(connection) {}
    Lease(Lease&& other) noexcept : pool_(other.pool_), connection_(other.connection_) {
      other.connection_ = nullptr;
    }
    Lease(const Lease&) = delete;
    Lease& operator=(const Lease&) = delete;
    ~Lease();
    Connection& operator*() const { return *connection_; }
    Connection* operator->() const { return connection_; }

  private:
    ConnectionPool* pool_;
    Connection* connection_;
  };

  Lease acquire();
  const std::string& path() const { return path_; }

private:
  void giveBack(Connection* connection);

  std::string path_;
  std::vector<std::unique_ptr<Connection>> all_;
  std::vector<Connection*> free_;
  std::mutex mutex_;
  std::condition_variable available_;
};

// "ok" when PRAGMA integrity_check finds nothing wrong, else its first finding.
std::string integrityCheck(Connection& connection);

}  // namespace tavsrv
