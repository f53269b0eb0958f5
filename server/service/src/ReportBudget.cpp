#include "ReportBudget.h"

namespace tavsvc {

bool ReportBudget::take(tavsrv::Connection& db, uint32_t userId, int64_t nowMs) {
  // Counted and read in one statement: two nodes never hand out the same last report.
  const int64_t used =
      db.queryInt(
            "INSERT INTO report_budgets(user_id, start_ms, used) VALUES(?1, ?2, 1) "
            "ON CONFLICT(user_id) DO UPDATE SET "
            "used = CASE WHEN report_budgets.start_ms <= ?3 THEN 1 ELSE report_budgets.used + 1 "
            "END, "
            "start_ms = CASE WHEN report_budgets.start_ms <= ?3 THEN ?2 ELSE "
            "report_budgets.start_ms END "
            "RETURNING used",
            userId, nowMs, nowMs - kWindowMs)
          .value_or(kPerWindow + 1);
  return used <= kPerWindow;
}

}  // namespace tavsvc
