// The file descriptors a server process may open, and how the roles of the
// all-in-one launcher share them: one process, one limit (ulimit -n), so each
// role that takes connections caps them at its share and none can starve the
// others' calls, hellos and internal questions.
#pragma once

#include <cstddef>

namespace tavsrv {

// The soft limit raised to the hard one (done once per process); SIZE_MAX
// when there is none.
std::size_t descriptorLimit();

// Connections each role may hold out of a process's descriptors.
struct DescriptorBudget {
  std::size_t service = 0;  // the HTTP service's connections
  std::size_t msg = 0;      // the message server's connections
};

// The launcher's budget for a process that may open `limit` descriptors: the
// service and the message server two fifths each; the last fifth stays for
// the MCU's room and media sockets, the conversion server's connections and
// tools, the store, the log, files being served and internal HTTP calls.
DescriptorBudget shareDescriptors(std::size_t limit);

}  // namespace tavsrv
