// The network access manager of the calling thread: one per thread, shared by
// every request made there (so connections to the service are kept and
// reused), made on first use and gone with its thread (the GUI thread's with
// the application).
#pragma once

class QNetworkAccessManager;

namespace NetworkAccess {

QNetworkAccessManager& manager();

}  // namespace NetworkAccess
