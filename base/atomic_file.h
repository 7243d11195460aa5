#pragma once
// The program's one way to replace a state file: the new content goes into a
// temporary file beside the target, is flushed to disk, and is then renamed
// over the target. A crash, a kill or a full disk at any moment leaves either
// the complete old file or the complete new one, never a truncated file.
#include <string>
#include <string_view>

struct AtomicWriteOptions {
  // Flush the file (and afterwards its directory) to disk. Files that are
  // rewritten many times a second and never read back may skip this; they
  // still never appear half written.
  bool sync = true;
  // The permission bits of the new file; -1 keeps those of the regular file
  // it replaces, or 0600 (system files that everyone reads ask for 0644).
  int mode = -1;
};

// Replaces the file at `path` with `content`. Returns false when anything
// failed (directory missing or not writable, disk full, rename refused); the
// previous file is then left exactly as it was and no temporary file remains.
// The new file gets the permission bits of the regular file it replaces, or
// 0600 when there was none or a symbolic link stands in its place (the link
// is replaced; its target is never read, written or copied from). Safe to
// call from several threads at once.
bool WriteFileAtomically(const std::string& path, std::string_view content,
                         AtomicWriteOptions options = {});

// Removes temporary files that an earlier process left beside `path` when it
// was killed in the middle of a write. Call before the first write, while no
// other process writes the same file.
void RemoveStaleTempFiles(const std::string& path);
