// The PostgreSQL store (libpq). Statements are written for both engines with
// ?N parameters; here they become $N, are prepared once per connection and
// their results are read whole (the service's lists are bounded).
#include <libpq-fe.h>

#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <unordered_map>
#include <utility>
#include <vector>

#include "DatabaseBackends.h"

namespace tavsrv {

namespace {

// Type OIDs of parameters bound as numbers; text and NULL go as "unknown"
// (0), so PostgreSQL takes the type from where the parameter stands (a
// case-insensitive name column compares case-insensitively).
constexpr Oid kInt8Oid = 20;
constexpr Oid kFloat8Oid = 701;

// The write lock of beginWrite(): two-key advisory locks, a space apart from
// the single-key ones lock() takes.
constexpr const char* kBeginWrite = "BEGIN; SELECT pg_advisory_xact_lock(1413563991, 1)";

struct ResultDeleter {
  void operator()(PGresult* result) const { PQclear(result); }
};
using Result = std::unique_ptr<PGresult, ResultDeleter>;

DbFailure failureOf(const PGresult* result) {
  const char* state = result ? PQresultErrorField(result, PG_DIAG_SQLSTATE) : nullptr;
  if (!state)
    return DbFailure::Unavailable;  // no answer from the server at all
  if (std::strncmp(state, "23", 2) == 0)
    return DbFailure::Constraint;
  if (std::strncmp(state, "08", 2) == 0 || std::strncmp(state, "57P", 3) == 0)
    return DbFailure::Unavailable;
  return DbFailure::Other;
}

// "?12" becomes "$12" outside quoted text and comments; the number of parameters is the highest N.
std::string toDollarParameters(const std::string& sql, int* count) {
  std::string out;
  out.reserve(sql.size());
  *count = 0;
  for (size_t i = 0; i < sql.size(); ++i) {
    const char c = sql[i];
    if (c == '\'' || c == '"') {
      const size_t end = sql.find(c, i + 1);
      const size_t stop = end == std::string::npos ? sql.size() : end + 1;
      out.append(sql, i, stop - i);
      i = stop - 1;
    } else if (c == '-' && i + 1 < sql.size() && sql[i + 1] == '-') {
      const size_t end = sql.find('\n', i);
      const size_t stop = end == std::string::npos ? sql.size() : end;
      out.append(sql, i, stop - i);
      i = stop - 1;
    } else if (c == '?' && i + 1 < sql.size() && sql[i + 1] >= '0' && sql[i + 1] <= '9') {
      int n = 0;
      size_t j = i + 1;
      while (j < sql.size() && sql[j] >= '0' && sql[j] <= '9')
        n = n * 10 + (sql[j++] - '0');
      out += '$';
      out.append(sql, i + 1, j - i - 1);
      *count = std::max(*count, n);
      i = j - 1;
    } else {
      out += c;
    }
  }
  return out;
}

class PgConnection;

class PgStatement : public Statement::Impl {
public:
  PgStatement(PgConnection* owner, const std::string* sql, int parameters)
      : owner_(owner), sql_(sql), values_(parameters), types_(parameters, 0) {}

  void bindInt(int index, int64_t value) override { set(index, std::to_string(value), kInt8Oid); }
  void bindReal(int index, double value) override {
    char text[32];
    std::snprintf(text, sizeof text, "%.17g", value);
    set(index, text, kFloat8Oid);
  }
  void bindText(int index, const std::string& value) override { set(index, value, 0); }
  void bindNull(int index) override {
    if (index >= 1 && index <= static_cast<int>(values_.size())) {
      values_[index - 1].reset();
      types_[index - 1] = 0;
    }
  }
  bool step() override;
  int64_t int64(int column) const override {
    if (isNull(column))
      return 0;
    const char* text = PQgetvalue(result_.get(), row_, column);
    if (text[0] == 't' || text[0] == 'f')  // boolean
      return text[0] == 't' ? 1 : 0;
    return std::strtoll(text, nullptr, 10);
  }
  double real(int column) const override {
    return isNull(column) ? 0.0 : std::strtod(PQgetvalue(result_.get(), row_, column), nullptr);
  }
  std::string text(int column) const override {
    if (isNull(column))
      return std::string();
    return std::string(PQgetvalue(result_.get(), row_, column),
                       static_cast<size_t>(PQgetlength(result_.get(), row_, column)));
  }
  std::string_view textView(int column) const override {
    if (isNull(column))
      return std::string_view();
    return std::string_view(PQgetvalue(result_.get(), row_, column),
                            static_cast<size_t>(PQgetlength(result_.get(), row_, column)));
  }
  bool isNull(int column) const override { return PQgetisnull(result_.get(), row_, column) != 0; }

private:
  void set(int index, std::string value, Oid type) {
    if (index >= 1 && index <= static_cast<int>(values_.size())) {
      values_[index - 1] = std::move(value);
      types_[index - 1] = type;
    }
  }

  PgConnection* owner_;
  const std::string* sql_;  // the statement's text as written (its key)
  std::vector<std::optional<std::string>> values_;
  std::vector<Oid> types_;
  Result result_;
  int row_ = -1;
  int rows_ = 0;
  bool executed_ = false;
};

class PgConnection : public Connection {
public:
  explicit PgConnection(const std::string& url) : url_(url) {
    conn_ = PQconnectdb(url.c_str());
    if (!conn_ || PQstatus(conn_) != CONNECTION_OK) {
      const std::string why = conn_ ? PQerrorMessage(conn_) : "out of memory";
      PQfinish(conn_);
      conn_ = nullptr;
      throw DbError(DbFailure::Unavailable,
                    "cannot connect to " + describeLocation(url) + ": " + why);
    }
    configure();
  }
  ~PgConnection() override { PQfinish(conn_); }

  Dialect dialect() const override { return Dialect::PostgreSQL; }

  void exec(const std::string& sql) override { command(sql.c_str()); }

  Statement prepare(const std::string& sql) override {
    auto found = texts_.find(sql);
    if (found == texts_.end()) {
      Text text;
      text.converted = toDollarParameters(sql, &text.parameters);
      found = texts_.emplace(sql, std::move(text)).first;
    }
    return Statement(std::make_unique<PgStatement>(this, &found->first, found->second.parameters));
  }

  // Prepares (once per connection and parameter types) and runs the statement.
  Result execute(const std::string& sql, const std::vector<std::optional<std::string>>& values,
                 const std::vector<Oid>& types) {
    usable();
    Text& text = texts_.at(sql);
    std::string signature(types.size(), 'u');
    for (size_t i = 0; i < types.size(); ++i)
      signature[i] = types[i] == kInt8Oid ? 'i' : types[i] == kFloat8Oid ? 'r' : 'u';
    auto name = text.prepared.find(signature);
    if (name == text.prepared.end()) {
      const std::string statement = "s" + std::to_string(++statements_);
      Result made(PQprepare(conn_, statement.c_str(), text.converted.c_str(),
                            static_cast<int>(types.size()), types.data()));
      check(made.get(), PGRES_COMMAND_OK, "prepare: " + sql);
      name = text.prepared.emplace(signature, statement).first;
    }
    std::vector<const char*> pointers(values.size());
    for (size_t i = 0; i < values.size(); ++i)
      pointers[i] = values[i] ? values[i]->c_str() : nullptr;
    Result result(PQexecPrepared(conn_, name->second.c_str(), static_cast<int>(values.size()),
                                 pointers.data(), nullptr, nullptr, 0));
    const ExecStatusType status = result ? PQresultStatus(result.get()) : PGRES_FATAL_ERROR;
    check(result.get(), status == PGRES_TUPLES_OK ? PGRES_TUPLES_OK : PGRES_COMMAND_OK,
          "step: " + sql);
    const char* affected = PQcmdTuples(result.get());
    changes_ = affected[0] ? std::atoi(affected) : 0;
    return result;
  }

  int64_t lastInsertId() override { return queryInt("SELECT lastval()").value_or(0); }
  int changes() const override { return changes_; }

  void beginWrite() override { begin(kBeginWrite); }
  // Each read sees what is committed when it runs (READ COMMITTED): the lists
  // read together need no more, and a transaction would cost two more round trips.
  void beginRead() override { reading_ = true; }
  void commit() override {
    if (std::exchange(reading_, false))
      return;
    Result result = command("COMMIT");
    inTransaction_ = false;
    // A transaction in which a statement failed ends in a rollback, whatever it was asked.
    if (std::strcmp(PQcmdStatus(result.get()), "ROLLBACK") == 0)
      throw DbError(DbFailure::Other, "commit: the transaction had failed and was rolled back");
  }
  void rollback() override {
    if (std::exchange(reading_, false))
      return;
    inTransaction_ = false;
    if (PQstatus(conn_) != CONNECTION_OK)
      return;  // the server ended it with the connection
    command("ROLLBACK");
  }

  void lock(int64_t key) override { run("SELECT pg_advisory_lock(?1)", key); }
  void unlock(int64_t key) override { run("SELECT pg_advisory_unlock(?1)", key); }

  int64_t schemaVersion() override {
    if (queryInt("SELECT to_regclass('store_schema') IS NOT NULL").value_or(0) == 0)
      return 0;
    return queryInt("SELECT MAX(version) FROM store_schema").value_or(0);
  }
  void setSchemaVersion(int64_t version) override {
    exec("CREATE TABLE IF NOT EXISTS store_schema(version BIGINT NOT NULL)");
    run("DELETE FROM store_schema");
    run("INSERT INTO store_schema(version) VALUES(?1)", version);
  }
  void continueIdsAfter(const std::string& table) override {
    exec("SELECT setval(pg_get_serial_sequence('" + table +
         "', 'id'), COALESCE((SELECT MAX(id) FROM " + table + "), 0) + 1, false)");
  }

  std::string integrityCheck() override {
    return queryInt("SELECT 1").value_or(0) == 1 ? "ok" : "no answer";
  }

  void recycle() override {
    if (PQstatus(conn_) == CONNECTION_OK && PQtransactionStatus(conn_) != PQTRANS_IDLE) {
      try {
        rollback();
      } catch (const DbError&) {
      }
    }
    inTransaction_ = false;
    reading_ = false;
  }

private:
  struct Text {
    std::string converted;
    int parameters = 0;
    std::unordered_map<std::string, std::string> prepared;  // parameter types -> statement name
  };

  void configure() {
    // The server's notices (a rollback with nothing to roll back) are not errors: not printed.
    PQsetNoticeProcessor(
        conn_, [](void*, const char*) {}, nullptr);
    // Texts are UTF-8 as the service keeps them.
    command("SET client_encoding = 'UTF8'");
  }

  // A connection lost between transactions is opened again; one lost inside a
  // transaction fails the rest of it (its work is gone), until its rollback.
  void usable() {
    if (PQstatus(conn_) == CONNECTION_OK)
      return;
    if (inTransaction_)
      throw DbError(DbFailure::Unavailable, "the connection to the database was lost");
    PQreset(conn_);
    for (auto& entry : texts_)
      entry.second.prepared.clear();
    if (PQstatus(conn_) != CONNECTION_OK)
      throw DbError(DbFailure::Unavailable,
                    "cannot connect to " + describeLocation(url_) + ": " + PQerrorMessage(conn_));
    configure();
  }

  void begin(const char* sql) {
    command(sql);
    inTransaction_ = true;
  }

  Result command(const char* sql) {
    usable();
    Result result(PQexec(conn_, sql));
    const ExecStatusType status = result ? PQresultStatus(result.get()) : PGRES_FATAL_ERROR;
    check(result.get(), status == PGRES_TUPLES_OK ? PGRES_TUPLES_OK : PGRES_COMMAND_OK,
          std::string("exec: ") + sql);
    return result;
  }

  void check(const PGresult* result, ExecStatusType wanted, const std::string& what) {
    if (result && PQresultStatus(result) == wanted)
      return;
    std::string message = what + ": ";
    message += result ? PQresultErrorMessage(result) : PQerrorMessage(conn_);
    while (!message.empty() && message.back() == '\n')
      message.pop_back();
    throw DbError(PQstatus(conn_) != CONNECTION_OK ? DbFailure::Unavailable : failureOf(result),
                  message);
  }

  std::string url_;
  PGconn* conn_ = nullptr;
  std::unordered_map<std::string, Text> texts_;
  int statements_ = 0;
  int changes_ = 0;
  bool inTransaction_ = false;
  bool reading_ = false;  // between beginRead() and its commit()
};

bool PgStatement::step() {
  if (!executed_) {
    result_ = owner_->execute(*sql_, values_, types_);
    executed_ = true;
    rows_ = PQresultStatus(result_.get()) == PGRES_TUPLES_OK ? PQntuples(result_.get()) : 0;
  }
  if (row_ + 1 >= rows_)
    return false;
  ++row_;
  return true;
}

}  // namespace

std::unique_ptr<Connection> openPostgres(const std::string& url) {
  return std::make_unique<PgConnection>(url);
}

}  // namespace tavsrv
