// The converters' sandbox: bubblewrap with new user, PID, network, IPC and UTS namespaces.
// Inside there is no network but a loopback of its own, and a file system of the system's
// programs and libraries (/usr), the few configuration files LibreOffice and fontconfig read
// (read-only), an empty /tmp, and the job's folder (writable, at its own path). Nothing else
// of the server's disk (its data folder, other jobs, /etc) is there to be linked to.
#pragma once

#include <string>
#include <vector>

namespace convert {

// argv for running `program` (an absolute path) with `args` in the sandbox, `work_dir` its
// writable folder and working directory, `read_only` (when not empty) one more file it sees.
std::vector<std::string> sandboxed(const std::string& bwrap, const std::string& program,
                                   const std::vector<std::string>& args,
                                   const std::string& work_dir, const std::string& read_only = {});

}  // namespace convert
