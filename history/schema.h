// The history database's schema, one script per version step. A database at
// version v (PRAGMA user_version) is brought up to date by running the scripts
// from v on; a new, empty database has version 0.
#pragma once

#include <span>

namespace quavella::history {

/// migrations()[v] turns a database of version v into version v + 1.
std::span<const char* const> migrations();

}  // namespace quavella::history
