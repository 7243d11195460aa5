#pragma once
// A simulated Linux input subsystem: evdev nodes under /dev/input and the
// uinput device /dev/uinput, written from the kernel's documented behaviour.
//
// Two sides meet in it:
//  - the program side, through Open/Close/Ioctl/Read/Write on descriptors that
//    are real pipe ends (so poll(2) works on them exactly as on real devices);
//  - the test side, which plugs in devices (often from evemu recordings), makes
//    them emit events, unplugs them, changes their permissions, grabs them as
//    "another program" and watches what the desktop received.
//
// The desktop is modelled as one reader attached to every node: it receives a
// node's events whenever nobody holds an exclusive grab on that node.
//
// Directory listing and inotify use a real directory that mirrors /dev/input
// (MirrorDir()): creating, deleting and chmod-ing its entries makes the real
// kernel deliver IN_CREATE, IN_DELETE and IN_ATTRIB.
#include <linux/input.h>
#include <linux/uinput.h>
#include <sys/types.h>

#include <array>
#include <bitset>
#include <pthread.h>

#include <condition_variable>
#include <cstdint>
#include <deque>
#include <functional>
#include <map>
#include <memory>
#include <mutex>
#include <optional>
#include <string>
#include <vector>

namespace pmrsim {

int64_t NowNs();  // steady clock

// The description of an input device: what EVIOCG* report about it.
struct DeviceDesc {
  std::string name;
  std::string phys;  // empty: EVIOCGPHYS fails with ENOENT
  std::string uniq;
  input_id id{};
  std::bitset<INPUT_PROP_CNT> props;
  std::bitset<EV_CNT> ev;
  std::bitset<KEY_CNT> key;
  std::bitset<REL_CNT> rel;
  std::bitset<ABS_CNT> abs;
  std::bitset<MSC_CNT> msc;
  std::bitset<LED_CNT> led;
  std::bitset<SND_CNT> snd;
  std::bitset<SW_CNT> sw;
  std::bitset<FF_CNT> ff;
  std::array<input_absinfo, ABS_CNT> absinfo{};
  std::bitset<LED_CNT> ledState;
  std::bitset<SW_CNT> swState;
  // The recorded stream of an evemu file; times are seconds since the first
  // event (relative and epoch recordings alike).
  std::vector<input_event> events;
};

// Parses an evemu description (EVEMU 1.1 to 1.3; "N:", "I:", "P:", "B:",
// "A:" with 5 or 6 fields, "L:", "S:", "E:"). Lines it does not know are
// skipped. False with a reason when a known line is malformed or "N:" is missing.
bool ParseEvemu(const std::string& text, DeviceDesc& out, std::string* error = nullptr);
bool LoadEvemu(const std::string& path, DeviceDesc& out, std::string* error = nullptr);

// Splits a stream into frames, each ending with its SYN_REPORT (a trailing
// incomplete frame is returned as it is).
std::vector<std::vector<input_event>> SplitFrames(const std::vector<input_event>& events);

// The path of a file of tests/fixtures ("input/<name>.evemu").
std::string FixturePath(const std::string& rel);

input_event Ev(int type, int code, int value);
// One key event followed by SYN_REPORT.
std::vector<input_event> KeyFrame(int code, int value, bool withScan = false);

// High-resolution wheel as the kernel's HID layer reports it: each raw wheel
// report of `raw` units on a wheel with `multiplier` units per notch yields
// REL_WHEEL_HI_RES raw*120/multiplier and, whenever the accumulated hi-res
// movement reaches a whole notch (120), REL_WHEEL with the whole notches.
struct HiResWheel {
  int multiplier = 1;
  int accumulated = 0;
  std::vector<input_event> Frame(int raw);  // the events of one frame, with SYN_REPORT
};

// A standard keyboard / mouse description for tests that need no recording.
DeviceDesc BasicKeyboard(const std::string& name = "Sim Keyboard");
DeviceDesc BasicMouse(const std::string& name = "Sim Mouse", bool hiRes = false);

enum class Origin {
  Device,   // emitted by the (simulated) hardware
  Write,    // written by a program (uinput or evdev write)
  Removal,  // key releases the kernel generates when a device goes away
};

// One event as the desktop received it.
struct SeenEvent {
  uint64_t seq = 0;
  int64_t ns = 0;  // steady clock at delivery
  std::string node;
  std::string name;
  std::string phys;
  input_event ev{};
  Origin origin = Origin::Device;
};

enum class ReadFault {
  None,
  OneEventPerRead,  // every read returns at most one event
  Truncated,        // reads return 13 bytes of an event (the event is consumed)
  EagainForever,    // the node stays readable, but every read fails with EAGAIN
};

// What the test can learn about a node.
struct NodeInfo {
  std::string node;
  std::string name;
  std::string phys;
  input_id id{};
  bool exists = false;
  bool fromUinput = false;
  bool grabbed = false;         // by a descriptor
  bool grabbedByOther = false;  // by GrabByOther
  // Grabbed, and the holder has read the key state since (EVIOCGKEY): a
  // capture that checks for keys pressed during its grab has done so.
  bool grabChecked = false;
  int openCount = 0;            // descriptors open on it now
  int opensEver = 0;            // successful opens since it appeared
  std::bitset<KEY_CNT> keyState;
  std::bitset<LED_CNT> ledState;
  DeviceDesc desc;
  // For nodes created through uinput: the ioctl calls of the creating
  // descriptor in order (request, argument; strings and records as 0) and every
  // write to it (one entry per write call).
  std::vector<std::pair<unsigned long, unsigned long>> uinputCalls;
  std::vector<std::vector<input_event>> uinputWrites;
};

struct UinputSetupInfo {
  std::string name;
  std::string phys;
  input_id id{};
};

// A mutex with priority inheritance (PTHREAD_PRIO_INHERIT), usable with
// std::lock_guard, std::unique_lock and std::condition_variable_any.
class PiMutex {
 public:
  PiMutex();
  ~PiMutex();
  PiMutex(const PiMutex&) = delete;
  PiMutex& operator=(const PiMutex&) = delete;
  void lock();
  void unlock();
  bool try_lock();

 private:
  pthread_mutex_t m_;
};

class Kernel {
 public:
  // The mirror directory is made under `parentDir` (default /tmp) and removed
  // with the kernel.
  explicit Kernel(const std::string& parentDir = "/tmp");
  ~Kernel();
  Kernel(const Kernel&) = delete;
  Kernel& operator=(const Kernel&) = delete;

  // ---- paths ---------------------------------------------------------------
  // The real directory mirroring /dev/input.
  const std::string& MirrorDir() const { return mirror_; }
  // "/dev/input" and paths below it mapped into the mirror; others unchanged.
  std::string MapPath(const std::string& path) const;
  static bool IsSimPath(const char* path);

  // ---- program side (the system calls) -------------------------------------
  int Open(const char* path, int flags);  // -1 with errno
  int Close(int fd);
  int Ioctl(int fd, unsigned long request, unsigned long arg);
  ssize_t Read(int fd, void* buf, size_t size);
  ssize_t Write(int fd, const void* buf, size_t size);
  bool Owns(int fd);

  // ---- test side: devices --------------------------------------------------
  // Plugs a device in; returns its node name ("event3"). The lowest free number
  // is used, as the kernel does.
  // `read`/`write` say what the user may do with it from the start.
  std::string AddDevice(const DeviceDesc& desc, bool read = true, bool write = true);
  // The hardware reports events (a frame is delivered at its SYN_REPORT).
  // Recorded streams pass through as they are; the device's key, LED, switch
  // and axis state follow them.
  bool Emit(const std::string& node, const std::vector<input_event>& events);
  // Events that happen while every reader's buffer overflows: the device state
  // follows them, readers receive SYN_DROPPED instead (their queues emptied).
  bool EmitLost(const std::string& node, const std::vector<input_event>& events);
  bool Unplug(const std::string& node);
  // Changes what the user may do with the node (IN_ATTRIB on the mirror).
  bool SetAccess(const std::string& node, bool read, bool write);
  void SetUinputAccess(bool allowed);
  // Another program takes (or releases) the exclusive grab.
  bool GrabByOther(const std::string& node, bool grab);
  bool SetReadFault(const std::string& node, ReadFault fault);
  // Makes UI_DEV_CREATE fail with ENOMEM while `pred` says so (null clears).
  void FailUinputCreate(std::function<bool(const UinputSetupInfo&)> pred);
  // Per-reader buffer size in events (0: the kernel's estimate per device).
  void SetClientBufferSize(size_t events);

  // ---- test side: the desktop ----------------------------------------------
  std::vector<SeenEvent> Desktop(uint64_t sinceSeq = 0);
  uint64_t DesktopSeq();  // the sequence number of the last event seen
  // false keeps only the counters (benchmarks).
  void SetDesktopLog(bool keep);
  // Called (under the kernel's lock; must not call back) for every event the
  // desktop receives.
  void SetDesktopObserver(std::function<void(const SeenEvent&)> fn);
  // Also keep the write log of uinput devices (on by default).
  void SetUinputWriteLog(bool keep);
  // The desktop sets a keyboard light on a node.
  bool DesktopWriteLed(const std::string& node, int code, int value);
  // Waits until pred(all desktop events) holds or the timeout passes.
  bool WaitDesktop(const std::function<bool(const std::vector<SeenEvent>&)>& pred, int timeoutMs);

  // ---- inspection ----------------------------------------------------------
  std::vector<NodeInfo> Nodes(bool includeRemoved = false);
  std::optional<NodeInfo> Node(const std::string& node);
  // The newest node (present or removed) with that physical path / name.
  std::optional<NodeInfo> NodeByPhys(const std::string& phys, bool includeRemoved = false);
  std::optional<NodeInfo> NodeByName(const std::string& name, bool includeRemoved = false);
  // Waits until pred(Nodes(true)) holds.
  bool WaitNodes(const std::function<bool(const std::vector<NodeInfo>&)>& pred, int timeoutMs);
  int OpenDescriptors();  // descriptors the program holds open on the simulation
  // Events queued for the node's readers and not read yet.
  size_t Unread(const std::string& node);
  // Waits until every reader of the node has read all its events.
  bool WaitDrained(const std::string& node, int timeoutMs);

 private:
  struct Client;
  struct Uinput;
  struct NodeRec;
  struct Handle;

  NodeRec* FindLocked(const std::string& node);
  NodeInfo InfoLocked(const NodeRec& n);
  void EventLocked(NodeRec& n, const input_event& ev, bool filter, Origin origin);
  void PassLocked(NodeRec& n, std::vector<input_event>& vals, Origin origin, bool toClients);
  void PushLocked(Client& c, const input_event& ev);
  void PushUinputLocked(Uinput& u, const input_event& ev);
  void RemoveNodeLocked(NodeRec& n);
  void SignalLocked(int wfd, bool& signalled);
  void UnsignalLocked(int rfd, bool& signalled);
  int CreateUinputNodeLocked(Uinput& u);
  size_t BufferSizeLocked(const NodeRec& n) const;
  void TouchMirror(const NodeRec& n, bool create);
  int IoctlClientLocked(Client& c, unsigned long request, unsigned long arg);
  int IoctlUinputLocked(Uinput& u, unsigned long request, unsigned long arg);
  ssize_t ReadClient(Handle& h, void* buf, size_t size, std::unique_lock<PiMutex>& lock);

  // The real input core's locks cannot be held up by ordinary user work; a
  // priority-inheriting lock keeps it that way here, so a real-time writer
  // never waits for a preempted reader of normal priority.
  PiMutex mu_;
  std::condition_variable_any changed_;
  std::string root_;
  std::string mirror_;
  std::map<std::string, NodeRec*> active_;
  std::vector<std::unique_ptr<NodeRec>> all_;
  std::map<int, std::unique_ptr<Handle>> handles_;
  std::vector<SeenEvent> desktop_;
  uint64_t seq_ = 0;
  bool keepDesktop_ = true;
  bool keepWrites_ = true;
  std::function<void(const SeenEvent&)> observer_;
  bool uinputAccess_ = true;
  std::function<bool(const UinputSetupInfo&)> failCreate_;
  size_t bufferSize_ = 0;
};

}  // namespace pmrsim
