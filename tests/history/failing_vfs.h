// An SQLite VFS over the default one whose writes can be made to fail as on a
// full disk: every write and every growth of a file returns SQLITE_FULL while
// the switch is on. Reads, locks and syncs pass through; reads are counted, for
// the tests of how much of a file a call reads.
#pragma once

#include <cstdint>

namespace quavella::test {

/// The VFS's name, for Store's `vfs` parameter.
inline constexpr const char* kFullDiskVfs = "quavella-full-disk";

/// Registers the VFS (once; later calls do nothing).
void register_full_disk_vfs();

/// Turns the full disk on or off.
void set_disk_full(bool full);

/// Reads through the VFS so far (one per database or journal page read, and a few of
/// the files' headers).
std::uint64_t read_count();

}  // namespace quavella::test
