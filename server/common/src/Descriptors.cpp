#include "tavsrv/Descriptors.h"

#include <sys/resource.h>

#include <cstdint>

namespace tavsrv {

std::size_t descriptorLimit() {
  rlimit limit{};
  if (::getrlimit(RLIMIT_NOFILE, &limit) != 0)
    return SIZE_MAX;
  if (limit.rlim_cur < limit.rlim_max) {
    rlimit raised = limit;
    raised.rlim_cur = limit.rlim_max;
    if (::setrlimit(RLIMIT_NOFILE, &raised) == 0)
      limit = raised;
  }
  if (limit.rlim_cur == RLIM_INFINITY || limit.rlim_cur > SIZE_MAX)
    return SIZE_MAX;
  return static_cast<std::size_t>(limit.rlim_cur);
}

DescriptorBudget shareDescriptors(std::size_t limit) {
  const std::size_t fifth = limit / 5;
  return DescriptorBudget{2 * fifth, 2 * fifth};
}

}  // namespace tavsrv
