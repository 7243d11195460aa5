#pragma once
// Reading whole files.
#include <cstddef>
#include <functional>
#include <string>
#include <string_view>

// What a capped read found.
enum class ReadStatus {
  kOk,          // the whole file is in the output
  kMissing,     // no such file (or a component of the path is missing)
  kNotRegular,  // a FIFO, a device, a directory, or a link where links are refused
  kTooLarge,    // larger than the cap; nothing was kept
  kFailed,      // any other error (permissions, I/O)
};

struct ReadLimits {
  size_t maxBytes = 16u << 20;
  // A symbolic link as the last component of the path is refused (state
  // files in the data directory); resources beside the executable may be links.
  bool followLinks = true;
};

// Reads a regular file of at most `limits.maxBytes` bytes into `out` (cleared
// first, and left empty unless the result is kOk). Never blocks on a FIFO or a
// device and never reads past the cap, even when the file grows meanwhile.
ReadStatus ReadFileCapped(const std::string& path, std::string& out, ReadLimits limits);

// The same checks, but the file is handed to `chunk` piece by piece (at most
// 64 KiB each) instead of being kept: memory stays bounded whatever the file
// holds. A `chunk` that answers false ends the read early (the result is
// then kOk). kTooLarge may come after some chunks were handed over.
ReadStatus ReadFileInChunks(const std::string& path, ReadLimits limits,
                            const std::function<bool(std::string_view)>& chunk);

// The whole regular file (links followed, default cap); empty when it cannot
// be read, is not a regular file or is larger than the cap.
std::string ReadFile(const std::string& path);
// The same for a state file of the data directory: links refused, given cap.
std::string ReadStateFile(const std::string& path, size_t maxBytes);
