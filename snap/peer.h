#pragma once
// Peer messaging between the program's windows: every window serves short
// text requests on a Unix socket of its own in a directory only this user can
// write to; windows of the same executable, user and data directory find each
// other by listing those sockets.
#include <cstdint>
#include <deque>
#include <functional>
#include <optional>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

// Longest request or reply on the wire.
constexpr size_t kPeerMessageMax = 511;

// A request's reading and writing, from accept to the answer, must end within
// this time on the server, or the connection is dropped: the server serves one
// connection at a time, and a client that says nothing must not hold it.
constexpr int kPeerServeMs = 300;

// Fixed 64-bit string hash (FNV-1a) of the data directory path, naming the
// sockets in the runtime directory; every process of the program agrees on it.
uint64_t PeerPathHash(std::string_view text);
// Where the sockets live, worked out once per process: $XDG_RUNTIME_DIR when
// it is an absolute path to a real directory (not a link) of this user with
// mode 0700, the names then "pmr-<hash of the data directory>-win-"; otherwise
// the data directory (a directory of this user that nobody else may write
// to), the names "win-". Never a directory others can write to such as /tmp.
// A path too long for a socket address is reached through this process's own
// handle on the directory. Empty when neither directory can be used.
std::string PeerSocketDirectory();
// Directory, "/" and name prefix ("" when there is no directory).
std::string PeerSocketPrefix();
std::string PeerSocketPath(int pid);

// Starts the server thread; true when running (also when it already ran, in
// which case the new handler is dropped). The handler runs on the server
// thread.
bool OsStartPeerServer(std::function<std::string(const std::string&)> handler);
// Stops the server thread and removes this process's socket.
void OsStopPeerServer();

// One synchronous request; on true *reply (when given) holds the whole answer.
bool PeerRequest(int pid, const std::string& message, std::string* reply, int timeoutMs);
// Several requests at once, all within one total time: a window that never
// accepts (its queue full) fails at once, one that never answers fails when
// the time is up, and neither delays the others. Each result is the whole
// answer, or nothing when that request failed.
std::vector<std::optional<std::string>> PeerRequestAll(const std::vector<std::pair<int, std::string>>& requests,
                                                       int totalMs);
// Pids of the other live windows, unsorted; removes sockets of dead
// processes. Entries that are links or belong to another user are skipped
// and left alone.
std::vector<int> ListPeers();
// Queues a fire-and-forget message; returns at once.
void Notify(int pid, const std::string& message);
// The queue rule of Notify: a new glow or approach effect for a window
// replaces the one still waiting for it; everything else queues in order.
void AppendNotification(std::deque<std::pair<int, std::string>>& queue, int pid, const std::string& message);
// True when no notification waits and no sender thread runs.
bool NotifyQueueIdle();

// The other end of a connected socket is the same executable run by the same
// user.
bool PeerIsUs(int socket);
// Target of /proc/<pid>/exe, empty when unreadable.
std::string ExecutablePathOf(int pid);
