// The service's store: one interface, two implementations. An SQLite file (the
// default, nothing to install) or a PostgreSQL database (several service nodes
// on one store), chosen by where the store is: a file path, or a URL
// "postgresql://..." (libpq's form). The SQL is the same for both: bound
// parameters are written ?1, ?2, ... and every statement the service runs is
// understood by both engines (what differs is inside the implementations:
// transactions, the schema version, key locks, new ids).
//
// SQLite connections: WAL, synchronous=FULL (an acknowledged commit survives a
// killed process), foreign keys, a busy time-out, cached prepared statements.
// PostgreSQL connections: statements prepared once per connection, a broken
// connection reopened on its next use.
//
// Failures throw DbError; callers at the edge turn it into a refusal.
#pragma once

#include <condition_variable>
#include <cstdint>
#include <functional>
#include <memory>
#include <mutex>
#include <optional>
#include <stdexcept>
#include <string>
#include <string_view>
#include <vector>

namespace tavsrv {

// What went wrong, as far as a caller may act on it.
enum class DbFailure {
  Other,
  Constraint,   // a unique, foreign key or check constraint refused the change
  Unavailable,  // the database cannot be reached
};

class DbError : public std::runtime_error {
public:
  DbError(DbFailure failure, const std::string& what)
      : std::runtime_error(what), failure_(failure) {}
  DbFailure failure() const { return failure_; }
  bool constraint() const { return failure_ == DbFailure::Constraint; }

private:
  DbFailure failure_;
};

enum class Dialect { SQLite, PostgreSQL };

// One use of a prepared statement. Bind with bind(...), then step() once per row.
class Statement {
public:
  // What an implementation provides for one statement in use.
  class Impl {
  public:
    virtual ~Impl() = default;
    virtual void bindInt(int index, int64_t value) = 0;
    virtual void bindReal(int index, double value) = 0;
    virtual void bindText(int index, const std::string& value) = 0;
    virtual void bindNull(int index) = 0;
    virtual bool step() = 0;
    virtual int64_t int64(int column) const = 0;
    virtual double real(int column) const = 0;
    virtual std::string text(int column) const = 0;
    virtual std::string_view textView(int column) const = 0;
    virtual bool isNull(int column) const = 0;
  };

  explicit Statement(std::unique_ptr<Impl> impl) : impl_(std::move(impl)) {}
  Statement(Statement&&) noexcept = default;
  Statement& operator=(Statement&&) = delete;
  Statement(const Statement&) = delete;

  // Binds the arguments to ?1, ?2, ... in order.
  template <class... Args>
  Statement& bind(const Args&... args) {
    [[maybe_unused]] int index = 1;
    (bindOne(index++, args), ...);
    return *this;
  }
  Statement& bindOne(int index, int64_t value) {
    impl_->bindInt(index, value);
    return *this;
  }
  Statement& bindOne(int index, int value) { return bindOne(index, static_cast<int64_t>(value)); }
  Statement& bindOne(int index, uint32_t value) {
    return bindOne(index, static_cast<int64_t>(value));
  }
  Statement& bindOne(int index, bool value) { return bindOne(index, value ? 1 : 0); }
  Statement& bindOne(int index, double value) {
    impl_->bindReal(index, value);
    return *this;
  }
  Statement& bindOne(int index, const std::string& value) {
    impl_->bindText(index, value);
    return *this;
  }
  Statement& bindOne(int index, const char* value) { return bindOne(index, std::string(value)); }
  Statement& bindOne(int index, std::nullptr_t) {
    impl_->bindNull(index);
    return *this;
  }
  template <class T>
  Statement& bindOne(int index, const std::optional<T>& value) {
    return value ? bindOne(index, *value) : bindOne(index, nullptr);
  }

  // Advances to the next row; false when there is none (the statement is done).
  bool step() { return impl_->step(); }
  // Runs a statement that returns no rows.
  void run() {
    while (step()) {
    }
  }

  int64_t int64(int column) const { return impl_->int64(column); }
  double real(int column) const { return impl_->real(column); }
  std::string text(int column) const { return impl_->text(column); }
  // The text without a copy: valid until the next step (or the statement's end).
  std::string_view textView(int column) const { return impl_->textView(column); }
  bool isNull(int column) const { return impl_->isNull(column); }

private:
  std::unique_ptr<Impl> impl_;
};

struct ConnectionOptions {
  bool readOnly = false;      // SQLite only
  int busyTimeoutMs = 10000;  // SQLite: how long to wait for another writer
};

// One connection to the store. Not shared between threads at once.
class Connection {
public:
  virtual ~Connection() = default;
  Connection() = default;
  Connection(const Connection&) = delete;
  Connection& operator=(const Connection&) = delete;

  virtual Dialect dialect() const = 0;
  // Runs one or more statements without parameters (schema).
  virtual void exec(const std::string& sql) = 0;
  // A prepared statement for sql (cached per connection by its text).
  virtual Statement prepare(const std::string& sql) = 0;

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

  // The id the last insert into a table with an "id INTEGER PRIMARY KEY" gave its row.
  virtual int64_t lastInsertId() = 0;
  // Rows the last insert, update or delete changed.
  virtual int changes() const = 0;

  // Transactions; use Transaction and ReadTransaction rather than these.
  // A write transaction holds the store's write lock from its start, so two of
  // them that read and then write the same rows run one after the other (on
  // PostgreSQL across every node of the store).
  virtual void beginWrite() = 0;
  // Reads that belong together (ended by commit()): on SQLite one snapshot,
  // the file's locks taken once rather than around every statement; on
  // PostgreSQL nothing is sent (each read sees what is committed when it runs:
  // two round trips saved, and the lists read together need no more).
  virtual void beginRead() = 0;
  virtual void commit() = 0;
  virtual void rollback() = 0;

  // A lock on a number, held by this connection between lock() and unlock(),
  // that other holders of the same number wait for: on SQLite within this
  // process (one process owns the file), on PostgreSQL on every node.
  virtual void lock(int64_t key) = 0;
  virtual void unlock(int64_t key) = 0;

  // The version of the schema the store holds, 0 for an empty store.
  virtual int64_t schemaVersion() = 0;
  virtual void setSchemaVersion(int64_t version) = 0;
  // After rows were inserted into table with ids of their own: new rows get
  // ids above them (SQLite does so by itself).
  virtual void continueIdsAfter(const std::string& table) = 0;

  // "ok" when the engine finds the store sound, else its first finding.
  virtual std::string integrityCheck() = 0;
  // Before the connection goes back to its pool: ends what a failed caller left open.
  virtual void recycle() {}
};

// Whether location names a PostgreSQL database ("postgresql://", "postgres://")
// rather than an SQLite file.
bool isPostgresUrl(const std::string& location);
// Opens a connection to the store at location: a PostgreSQL URL or an SQLite file path.
std::unique_ptr<Connection> openConnection(const std::string& location,
                                           const ConnectionOptions& options = {});
// location with a password it carries replaced by "***", for logs.
std::string describeLocation(const std::string& location);

// Write transaction (see Connection::beginWrite). Rolls back unless commit() was called.
class Transaction {
public:
  explicit Transaction(Connection& connection) : connection_(connection) {
    connection_.beginWrite();
  }
  ~Transaction();
  Transaction(const Transaction&) = delete;
  Transaction& operator=(const Transaction&) = delete;
  // A failed commit leaves the transaction to the connection's recycle().
  void commit() {
    done_ = true;
    connection_.commit();
  }

private:
  Connection& connection_;
  bool done_ = false;
};

// Holds Connection::lock(key) for its scope.
class KeyLock {
public:
  KeyLock(Connection& connection, int64_t key) : connection_(connection), key_(key) {
    connection_.lock(key_);
  }
  ~KeyLock();
  KeyLock(const KeyLock&) = delete;
  KeyLock& operator=(const KeyLock&) = delete;

private:
  Connection& connection_;
  int64_t key_;
};

// A fixed set of connections to one store; acquire() blocks until one is
// free. The lease gives it back when it ends.
class ConnectionPool {
public:
  ConnectionPool(const std::string& location, int size, const ConnectionOptions& options = {});
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
  const std::string& location() const { return location_; }

private:
  void giveBack(Connection* connection);

  std::string location_;
  std::vector<std::unique_ptr<Connection>> all_;
  std::vector<Connection*> free_;
  std::mutex mutex_;
  std::condition_variable available_;
};

// "ok" when the store is sound (Connection::integrityCheck).
inline std::string integrityCheck(Connection& connection) {
  return connection.integrityCheck();
}

}  // namespace tavsrv
