#include "tavsrv/Database.h"

#include <sqlite3.h>

namespace tavsrv {

namespace {
[[noreturn]] void fail(sqlite3* db, int rc, const std::string& what) {
  std::string message = what + ": ";
  message += db ? sqlite3_errmsg(db) : sqlite3_errstr(rc);
  throw DbError(rc, message);
}
}  // namespace

// ---- Statement ----

Statement::Statement(Connection* owner, sqlite3_stmt* stmt, bool cached)
    : owner_(owner), stmt_(stmt), cached_(cached) {}

Statement::Statement(Statement&& other) noexcept
    : owner_(other.owner_), stmt_(other.stmt_), cached_(other.cached_) {
  other.stmt_ = nullptr;
}

Statement::~Statement() {
  if (!stmt_)
    return;
  if (cached_) {
    owner_->release(stmt_);
  } else {
    sqlite3_finalize(stmt_);
  }
}

void Statement::check(int rc, const char* what) const {
  if (rc != SQLITE_OK)
    fail(owner_->handle(), rc, what);
}

Statement& Statement::bindOne(int index, int64_t value) {
  check(sqlite3_bind_int64(stmt_, index, value), "bind");
  return *this;
}

Statement& Statement::bindOne(int index, double value) {
  check(sqlite3_bind_double(stmt_, index, value), "bind");
  return *this;
}

Statement& Statement::bindOne(int index, const std::string& value) {
  check(sqlite3_bind_text(stmt_, index, value.data(), static_cast<int>(value.size()),
                          SQLITE_TRANSIENT),
        "bind");
  return *this;
}

Statement& Statement::bindOne(int index, std::nullptr_t) {
  check(sqlite3_bind_null(stmt_, index), "bind");
  return *this;
}

bool Statement::step() {
  const int rc = sqlite3_step(stmt_);
  if (rc == SQLITE_ROW)
    return true;
  if (rc == SQLITE_DONE)
    return false;
  fail(owner_->handle(), rc, std::string("step: ") + sqlite3_sql(stmt_));
}

void Statement::run() {
  while (step()) {
  }
}

int64_t Statement::int64(int column) const {
  return sqlite3_column_int64(stmt_, column);
}

double Statement::real(int column) const {
  return sqlite3_column_double(stmt_, column);
}

std::string Statement::text(int column) const {
  const auto* data = sqlite3_column_text(stmt_, column);
  if (!data)
    return std::string();
  return std::string(reinterpret_cast<const char*>(data),
                     static_cast<size_t>(sqlite3_column_bytes(stmt_, column)));
}

bool Statement::isNull(int column) const {
  return sqlite3_column_type(stmt_, column) == SQLITE_NULL;
}

// ---- Connection ----

Connection::Connection(const std::string& path, const ConnectionOptions& options) {
  const int flags =
      (options.readOnly ? SQLITE_OPEN_READONLY : SQLITE_OPEN_READWRITE | SQLITE_OPEN_CREATE) |
      SQLITE_OPEN_NOMUTEX;
  const int rc = sqlite3_open_v2(path.c_str(), &db_, flags, nullptr);
  if (rc != SQLITE_OK) {
    std::string message = "open " + path + ": " + (db_ ? sqlite3_errmsg(db_) : sqlite3_errstr(rc));
    sqlite3_close_v2(db_);
    db_ = nullptr;
    throw DbError(rc, message);
  }
  sqlite3_busy_timeout(db_, options.busyTimeoutMs);
  sqlite3_extended_result_codes(db_, 1);
  // WAL lets readers run beside the writer; FULL syncs the WAL on every commit,
  // so a commit that returned is on disk even if the process is killed right after.
  if (!options.readOnly)
    exec("PRAGMA journal_mode=WAL");
  exec("PRAGMA synchronous=FULL; PRAGMA foreign_keys=ON;");
}

Connection::~Connection() {
  for (auto& entry : cache_)
    sqlite3_finalize(entry.second);
  sqlite3_close_v2(db_);
}

void Connection::exec(const std::string& sql) {
  char* error = nullptr;
  const int rc = sqlite3_exec(db_, sql.c_str(), nullptr, nullptr, &error);
  if (rc != SQLITE_OK) {
    std::string message = "exec: " + std::string(error ? error : sqlite3_errstr(rc));
    sqlite3_free(error);
    throw DbError(rc, message);
  }
}

Statement Connection::prepare(const std::string& sql) {
  auto found = cache_.find(sql);
  if (found != cache_.end() && !inUse_[found->second]) {
    inUse_[found->second] = true;
    return Statement(this, found->second, true);
  }
  sqlite3_stmt* stmt = nullptr;
  const int rc = sqlite3_prepare_v2(db_, sql.c_str(), static_cast<int>(sql.size()), &stmt, nullptr);
  if (rc != SQLITE_OK)
    fail(db_, rc, "prepare: " + sql);
  if (found != cache_.end())
    return Statement(this, stmt, false);  // the cached one is busy
  cache_.emplace(sql, stmt);
  inUse_[stmt] = true;
  return Statement(this, stmt, true);
}

void Connection::release(sqlite3_stmt* stmt) {
  sqlite3_reset(stmt);
  sqlite3_clear_bindings(stmt);
  inUse_[stmt] = false;
}

int64_t Connection::lastInsertId() const {
  return sqlite3_last_insert_rowid(db_);
}

int Connection::changes() const {
  return sqlite3_changes(db_);
}

// ---- Transaction ----

Transaction::Transaction(Connection& connection) : connection_(connection) {
  connection_.exec("BEGIN IMMEDIATE");
}

Transaction::~Transaction() {
  if (done_)
    return;
  try {
    connection_.exec("ROLLBACK");
  } catch (const DbError&) {
    // The transaction may already have been rolled back by SQLite itself.
  }
}

void Transaction::commit() {
  connection_.exec("COMMIT");
  done_ = true;
}

// ---- ConnectionPool ----

ConnectionPool::ConnectionPool(const std::string& path, int size, const ConnectionOptions& options)
    : path_(path) {
  if (size < 1)
    size = 1;
  for (int i = 0; i < size; ++i) {
    all_.push_back(std::make_unique<Connection>(path, options));
    free_.push_back(all_.back().get());
  }
}

ConnectionPool::~ConnectionPool() = default;

ConnectionPool::Lease::~Lease() {
  if (connection_)
    pool_->giveBack(connection_);
}

ConnectionPool::Lease ConnectionPool::acquire() {
  std::unique_lock<std::mutex> lock(mutex_);
  available_.wait(lock, [this] { return !free_.empty(); });
  Connection* connection = free_.back();
  free_.pop_back();
  return Lease(this, connection);
}

void ConnectionPool::giveBack(Connection* connection) {
  {
    std::lock_guard<std::mutex> lock(mutex_);
    free_.push_back(connection);
  }
  available_.notify_one();
}

std::string integrityCheck(Connection& connection) {
  Statement st = connection.prepare("PRAGMA integrity_check");
  if (!st.step())
    return "no answer";
  return st.text(0);
}

}  // namespace tavsrv
