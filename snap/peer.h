#pragma once
// Peer messaging between the program's windows: every window serves short
// text requests on a Unix socket of its own in the data directory; windows of
// the same executable and user find each other by listing those sockets.
#include <cstdint>
#include <deque>
#include <functional>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

// Longest request or reply on the wire.
constexpr size_t kPeerMessageMax = 511;

// Fixed 64-bit string hash (FNV-1a) used to name sockets when the data
// directory path is too long; every process of the program must agree on it.
uint64_t PeerPathHash(std::string_view text);
// Directory and name prefix of the peer sockets ("<data dir>/win-", or a
// shorter one under /tmp for long data directory paths).
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
// Pids of the other live windows, unsorted; removes sockets of dead processes.
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
