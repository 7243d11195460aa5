// The input access setup, driven through a fake pkexec given through the
// test seam (the real one is never started, and nothing is looked up in
// PATH): the states, the installed helper or the script it is handed, the rule
// file that script writes, and the manual command text.
#include <gtest/gtest.h>
#include <glib.h>
#include <sys/stat.h>

#include <chrono>
#include <cstdlib>
#include <fstream>
#include <sstream>
#include <string>
#include <thread>
#include <vector>

#include "platform/linux/input/setup.h"
#include "platform/linux/system_tools.h"
#include "platform/os_input.h"

namespace {

// The rule file, written out here on its own so a slip in the program's copy
// shows up as a difference.
const std::string kExpectedRules =
    "# Pellomar: lets the person signed in at this computer use the keyboard and mouse\n"
    "# devices (hotkeys, macro recording) and the virtual input device (the clicks and key presses\n"
    "# the app sends). Delete this file to undo.\n"
    "KERNEL==\"uinput\", SUBSYSTEM==\"misc\", TAG+=\"uaccess\", OPTIONS+=\"static_node=uinput\"\n"
    "SUBSYSTEM==\"input\", KERNEL==\"event*\", ENV{ID_INPUT_KEYBOARD}==\"1\", TAG+=\"uaccess\"\n"
    "SUBSYSTEM==\"input\", KERNEL==\"event*\", ENV{ID_INPUT_KEY}==\"1\", TAG+=\"uaccess\"\n"
    "SUBSYSTEM==\"input\", KERNEL==\"event*\", ENV{ID_INPUT_MOUSE}==\"1\", TAG+=\"uaccess\"\n"
    "SUBSYSTEM==\"input\", KERNEL==\"event*\", ENV{ID_INPUT_TOUCHPAD}==\"1\", TAG+=\"uaccess\"\n";

std::string Slurp(const std::string& path) {
  std::ifstream in(path, std::ios::binary);
  std::stringstream ss;
  ss << in.rdbuf();
  return ss.str();
}

void Write(const std::string& path, const std::string& text, mode_t mode = 0644) {
  {
    std::ofstream out(path, std::ios::binary | std::ios::trunc);
    out << text;
  }
  ::chmod(path.c_str(), mode);
}

int Lines(const std::string& path) {
  std::string s = Slurp(path);
  int n = 0;
  for (char c : s) n += c == '\n';
  return n;
}

// A private directory with a fake pkexec (and fake root tools) that does
// what the file "mode" says.
class FakePkexec {
 public:
  FakePkexec() {
    char tmpl[] = "/tmp/pmr-setup-XXXXXX";
    dir_ = mkdtemp(tmpl);
    bin_ = dir_ + "/bin";
    tools_ = dir_ + "/tools";
    root_ = dir_ + "/root";
    res_ = dir_ + "/res";
    ::mkdir(res_.c_str(), 0755);
    ::mkdir(bin_.c_str(), 0755);
    ::mkdir(tools_.c_str(), 0755);
    Write(bin_ + "/pkexec", R"SH(#!/bin/sh
PATH=/usr/bin:/bin
d=")SH" + dir_ + R"SH("
echo call >> "$d/calls"
printf '%s' "$#" > "$d/argc"
printf '%s' "$1" > "$d/arg1"
printf '%s' "$2" > "$d/arg2"
printf '%s' "$3" > "$d/arg3"
mode=$(cat "$d/mode")
case "$mode" in
  exit0) exit 0 ;;
  exit126) exit 126 ;;
  exit1) exit 1 ;;
  exit127) exit 127 ;;
  signal) kill -KILL $$ ;;
  slow) sleep 1; exit 0 ;;
  run)
    # Run the privileged script for real, with /etc moved under a private
    # root and the root-only tools replaced by loggers.
    mkdir -p "$d/root/etc/udev/rules.d" "$d/root/etc/modules-load.d"
    script=$(printf '%s' "$3" | sed "s#/etc/#$d/root/etc/#g")
    PATH="$d/tools:/usr/bin:/bin" exec "$1" "$2" "$script" ;;
esac
exit 3
)SH",
          0755);
    for (const char* tool : {"modprobe", "udevadm"})
      Write(tools_ + "/" + tool,
            std::string("#!/bin/sh\necho \"") + tool + " $*\" >> \"" + dir_ +
                "/tools.log\"\n[ -f \"" + dir_ + "/fail-" + tool + "\" ] && exit 1\nexit 0\n",
            0755);
    SetSystemToolForTest("pkexec", bin_ + "/pkexec");
    SetInputSetupHelperDirForTest(res_);  // no helper installed unless a test adds one
  }
  ~FakePkexec() {
    SetSystemToolForTest("pkexec", "");
    SetInputSetupHelperDirForTest("");
    std::system(("rm -rf '" + dir_ + "'").c_str());
  }

  // A root-owned setup-input stand-in, as a package installs it.
  std::string InstallHelper() {
    Write(res_ + "/setup-input", "#!/bin/sh\nexit 0\n", 0755);
    return res_ + "/setup-input";
  }

  void Mode(const std::string& mode) { Write(dir_ + "/mode", mode); }
  void FailTool(const std::string& tool) { Write(dir_ + "/fail-" + tool, ""); }
  int Calls() const { return Lines(dir_ + "/calls"); }
  std::string File(const std::string& name) const { return Slurp(dir_ + "/" + name); }
  std::string Root(const std::string& path) const { return Slurp(root_ + path); }
  const std::string& dir() const { return dir_; }
  const std::string& res() const { return res_; }

 private:
  std::string dir_, bin_, tools_, root_, res_;
};

// Runs the main loop (where the exit watch lives) until the setup has ended.
std::string WaitWhileRunning(double seconds = 15) {
  auto until = std::chrono::steady_clock::now() + std::chrono::duration<double>(seconds);
  while (OsInputSetupState() == "running" && std::chrono::steady_clock::now() < until) {
    if (!g_main_context_iteration(nullptr, FALSE)) std::this_thread::sleep_for(std::chrono::milliseconds(5));
  }
  return OsInputSetupState();
}

TEST(InputSetup, ExitStatusesGiveTheStates) {
  FakePkexec fake;
  struct Case {
    const char* mode;
    const char* state;
    const char* problem;
  } cases[] = {{"exit0", "done", ""},          {"exit126", "cancelled", ""}, {"exit1", "failed", ""},
               {"exit127", "failed", "not-authorized"}, {"signal", "failed", ""}, {"exit0", "done", ""}};
  int calls = 0;
  for (const Case& c : cases) {
    fake.Mode(c.mode);
    RunInputSetup();
    EXPECT_EQ(OsInputSetupState(), "running") << c.mode;
    EXPECT_EQ(WaitWhileRunning(), c.state) << c.mode;
    EXPECT_EQ(OsInputSetupProblem(), c.problem) << c.mode;
    EXPECT_EQ(fake.Calls(), ++calls) << c.mode;  // every request after an end runs again
  }
  // pkexec is asked to run the script with /bin/sh -c.
  EXPECT_EQ(fake.File("argc"), "3");
  EXPECT_EQ(fake.File("arg1"), "/bin/sh");
  EXPECT_EQ(fake.File("arg2"), "-c");
  EXPECT_EQ(fake.File("arg3"), InputSetupScript());
}

TEST(InputSetup, RequestsWhileRunningStartOneScript) {
  FakePkexec fake;
  fake.Mode("slow");
  RunInputSetup();
  RunInputSetup();
  OsPromptAccessibility();
  OsRequestListenEvent();
  EXPECT_EQ(WaitWhileRunning(), "done");
  EXPECT_EQ(fake.Calls(), 1);
  // Both permission words start the setup once it has ended.
  fake.Mode("exit0");
  OsPromptAccessibility();
  EXPECT_EQ(WaitWhileRunning(), "done");
  OsRequestListenEvent();
  EXPECT_EQ(WaitWhileRunning(), "done");
  EXPECT_EQ(fake.Calls(), 3);
}

TEST(InputSetup, MissingPkexecFailsAtOnce) {
  FakePkexec fake;
  SetSystemToolForTest("pkexec", fake.dir() + "/nowhere/pkexec");
  RunInputSetup();
  EXPECT_EQ(OsInputSetupState(), "failed");
  EXPECT_EQ(OsInputSetupProblem(), "pkexec-missing") << "the boot page says what is missing";
  EXPECT_EQ(fake.Calls(), 0);
}

// A package installs the setup-input helper: pkexec is asked to run it, with
// no arguments, instead of a shell.
TEST(InputSetup, InstalledHelperIsStartedInsteadOfAShell) {
  FakePkexec fake;
  std::string helper = fake.InstallHelper();
  fake.Mode("exit0");
  RunInputSetup();
  EXPECT_EQ(WaitWhileRunning(), "done");
  EXPECT_EQ(fake.File("argc"), "1");
  EXPECT_EQ(fake.File("arg1"), helper);
  EXPECT_EQ(InputSetupCommand(fake.res()), (std::vector<std::string>{fake.dir() + "/bin/pkexec", helper}));
  // A helper anyone could have replaced is never given to pkexec.
  ::chmod(helper.c_str(), 0777);
  EXPECT_EQ(InputSetupHelper(fake.res()), "");
  EXPECT_EQ(InputSetupCommand(fake.res()),
            (std::vector<std::string>{fake.dir() + "/bin/pkexec", "/bin/sh", "-c", InputSetupScript()}));
  ::chmod(helper.c_str(), 0755);
  ASSERT_EQ(::chown(helper.c_str(), 65534, 65534), 0);
  EXPECT_EQ(InputSetupHelper(fake.res()), "");
}

// A pkexec earlier in PATH (say ~/.local/bin) could show its own password box
// and receive the setup: the program never looks for it there.
TEST(InputSetup, PkexecEarlierInPathIsNeverStarted) {
  char tmpl[] = "/tmp/pmr-setup-trap-XXXXXX";
  std::string trap = mkdtemp(tmpl);
  Write(trap + "/pkexec", "#!/bin/sh\necho trapped > '" + trap + "/trapped'\nexit 0\n", 0755);
  std::string old = getenv("PATH") ? getenv("PATH") : "";
  setenv("PATH", (trap + ":" + old).c_str(), 1);
  std::string found = SystemToolPath("pkexec");
  if (found.empty()) {
    // No pkexec in the system's directories: the setup fails at once.
    RunInputSetup();
    EXPECT_EQ(WaitWhileRunning(), "failed");
    EXPECT_EQ(OsInputSetupProblem(), "pkexec-missing");
  } else {
    EXPECT_TRUE(found == "/usr/bin/pkexec" || found == "/bin/pkexec" || found == "/usr/sbin/pkexec" ||
                found == "/sbin/pkexec")
        << found;
  }
  setenv("PATH", old.c_str(), 1);
  EXPECT_NE(::access((trap + "/trapped").c_str(), F_OK), 0) << "the pkexec in PATH ran";
  std::system(("rm -rf '" + trap + "'").c_str());
}

TEST(InputSetup, ScriptWritesTheRuleFileByteForByte) {
  FakePkexec fake;
  fake.Mode("run");
  RunInputSetup();
  ASSERT_EQ(WaitWhileRunning(), "done") << fake.File("tools.log");
  EXPECT_EQ(fake.Root("/etc/udev/rules.d/70-pellomar.rules"), kExpectedRules);
  EXPECT_EQ(fake.Root("/etc/modules-load.d/pellomar.conf"), "uinput\n");
  EXPECT_EQ(fake.File("tools.log"),
            "modprobe uinput\n"
            "udevadm control --reload-rules\n"
            "udevadm trigger --action=change --subsystem-match=misc --sysname-match=uinput\n"
            "udevadm trigger --action=change --subsystem-match=input --sysname-match=event*\n"
            "udevadm settle --timeout=5\n");
}

TEST(InputSetup, OnlyTheGuardedStepsMayFail) {
  struct Case {
    const char* failingTool;
    const char* state;
  } cases[] = {{"modprobe", "done"}, {"udevadm", "failed"}};
  for (const Case& c : cases) {
    FakePkexec fake;
    fake.Mode("run");
    fake.FailTool(c.failingTool);
    RunInputSetup();
    EXPECT_EQ(WaitWhileRunning(), c.state) << c.failingTool;
  }
}

TEST(InputSetup, ScriptText) {
  EXPECT_EQ(InputSetupScript(),
            "# Pellomar: one-time keyboard and mouse access\n"
            "set -e\n"
            "cat > /etc/udev/rules.d/70-pellomar.rules <<'PMR_RULES'\n" +
                kExpectedRules +
                "PMR_RULES\n"
                "echo uinput > /etc/modules-load.d/pellomar.conf\n"
                "modprobe uinput || true\n"
                "udevadm control --reload-rules\n"
                "udevadm trigger --action=change --subsystem-match=misc --sysname-match=uinput\n"
                "udevadm trigger --action=change --subsystem-match=input --sysname-match='event*'\n"
                "udevadm settle --timeout=5 || true\n");
}

TEST(InputSetup, ManualCommandsText) {
  EXPECT_EQ(OsInputSetupCommands(),
            "sudo tee /etc/udev/rules.d/70-pellomar.rules > /dev/null <<'PMR_RULES'\n" + kExpectedRules +
                "PMR_RULES\n"
                "sudo sh -c 'echo uinput > /etc/modules-load.d/pellomar.conf'\n"
                "sudo modprobe uinput\n"
                "sudo udevadm control --reload-rules\n"
                "sudo udevadm trigger --action=change --subsystem-match=misc --sysname-match=uinput\n"
                "sudo udevadm trigger --action=change --subsystem-match=input --sysname-match='event*'\n");
}

// The manual text, pasted into a shell, does the same as the script.
TEST(InputSetup, ManualCommandsWriteTheSameFiles) {
  FakePkexec fake;
  std::string d = fake.dir();
  Write(d + "/tools/sudo", "#!/bin/sh\nexec \"$@\"\n", 0755);
  ::mkdir((d + "/root").c_str(), 0755);
  ::mkdir((d + "/root/etc").c_str(), 0755);
  ::mkdir((d + "/root/etc/udev").c_str(), 0755);
  ::mkdir((d + "/root/etc/udev/rules.d").c_str(), 0755);
  ::mkdir((d + "/root/etc/modules-load.d").c_str(), 0755);
  std::string commands = OsInputSetupCommands();
  std::string moved;
  for (size_t i = 0; i < commands.size();) {
    if (commands.compare(i, 5, "/etc/") == 0) {
      moved += d + "/root/etc/";
      i += 5;
    } else {
      moved += commands[i++];
    }
  }
  Write(d + "/manual.sh", "set -e\n" + moved, 0644);
  std::string cmd = "PATH='" + d + "/tools:/usr/bin:/bin' /bin/sh '" + d + "/manual.sh'";
  ASSERT_EQ(std::system(cmd.c_str()), 0);
  EXPECT_EQ(fake.Root("/etc/udev/rules.d/70-pellomar.rules"), kExpectedRules);
  EXPECT_EQ(fake.Root("/etc/modules-load.d/pellomar.conf"), "uinput\n");
}

}  // namespace
