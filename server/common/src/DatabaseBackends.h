// The two implementations behind tavsrv::openConnection.
#pragma once

#include <memory>
#include <string>

#include "tavsrv/Database.h"

namespace tavsrv {

std::unique_ptr<Connection> openSqlite(const std::string& path, const ConnectionOptions& options);
std::unique_ptr<Connection> openPostgres(const std::string& url);

}  // namespace tavsrv
