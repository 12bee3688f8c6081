// Every file operation of a whole session failed in turn, through the POSIX
// system-call table, so the real replacement and read code meets each
// failure against real files.
//
// A failure-free run counts the session's file operations. Then, for every
// operation N and every way that kind of call can fail, the session runs
// again with call N failing. After each entry point the test checks:
//
//   - the report holds exactly what a plain model of the session says it
//     should, given which reads and rewrites failed (reference_ini.h; the
//     model keeps a failed write's change as handed in, and the next
//     successful write of the same store carries it to disk);
//   - right after the failure, the report is the one from before or the one
//     from after the interrupted rewrite of the failure-free run;
//   - every rewrite handed the platform the bytes the model expects;
//   - the directory holds the report and the journal, nothing else;
//   - the entry point returned, naming the failure on the debug output;
//   - no file descriptor is left open.
//
// Sections: the injecting system calls; the injecting platform; the session
// and its plain model; the tests.
#include <dirent.h>
#include <fcntl.h>
#include <gmock/gmock.h>
#include <gtest/gtest.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstdio>
#include <deque>
#include <filesystem>
#include <map>
#include <optional>
#include <string>
#include <vector>

#include "platform/posix_syscalls.h"
#include "plugin/exports.h"
#include "plugin/session.h"
#include "report/date_time.h"
#include "report/format_settings.h"
#include "support/fake_platform.h"
#include "support/reference_ini.h"
#include "support/writer_mode.h"

namespace tarveld::testing {
namespace {

namespace fs = std::filesystem;
using platform::IoResult;
using platform::IoStatus;
using platform::PosixSyscalls;
using platform::Syscalls;

// ---------------------------------------------------------------------------
// The injecting system calls.

enum class Op { kOpen, kRead, kWrite, kFsync, kClose, kRename, kUnlink, kPread, kFstat };

const char* OpName(Op op) {
  static const char* const kNames[] = {"open",   "read",   "write", "fsync", "close",
                                       "rename", "unlink", "pread", "fstat"};
  return kNames[static_cast<int>(op)];
}

// What a descriptor or a call is for, told from the open flags and from the
// platform call in progress.
enum class Role {
  kReportRead,  // reading the report while a store opens
  kProbe,       // checking that an existing report may be written
  kTemp,        // the new report before it is renamed into place
  kRename,      // putting the new report in place
  kDirectory,   // flushing the directory after the rename
  kJournal,     // anything while a journal line is appended
  kCleanup,     // removing a temporary after a failure
};

const char* RoleName(Role role) {
  static const char* const kNames[] = {"report read", "write probe", "temporary", "rename",
                                       "directory",   "journal",     "cleanup"};
  return kNames[static_cast<int>(role)];
}

// How the armed call fails.
enum class Mode {
  kFail,       // the call fails with an error fitting its kind
  kShort,      // a write stores half of its bytes; later writes find the disk full
  kInterrupt,  // EINTR, which the platform must ride out
};

const char* ModeName(Mode mode) {
  static const char* const kNames[] = {"fails", "short", "interrupted"};
  return kNames[static_cast<int>(mode)];
}

enum class Seam { kNone, kRead, kReplace, kAppend };

struct Injector {
  long count = 0;    // file operations so far
  long fail_at = 0;  // 1-based number of the operation to fail; 0 for none
  Mode mode = Mode::kFail;
  std::vector<Op> ops;  // the kind of every operation, in order

  Seam seam = Seam::kNone;  // the platform call in progress
  bool disk_full = false;   // after a short write, until the platform call ends
  std::map<int, Role> roles;

  bool fired = false;
  bool fired_in_seam = false;
  Op fired_op{};
  Role fired_role{};
};

Injector injector;

// Counts one operation and tells whether it is the one to fail.
bool Hit(Op op, Role role) {
  injector.ops.push_back(op);
  if (++injector.count != injector.fail_at)
    return false;
  injector.fired = true;
  injector.fired_in_seam = true;
  injector.fired_op = op;
  injector.fired_role = role;
  return true;
}

Role RoleOfDescriptor(int fd) {
  if (injector.seam == Seam::kAppend)
    return Role::kJournal;
  const auto found = injector.roles.find(fd);
  return found == injector.roles.end() ? Role::kCleanup : found->second;
}

// Fails the call the way `mode` says; `error` is the errno of kFail.
template <typename Result>
Result Failed(int error) {
  errno = injector.mode == Mode::kInterrupt ? EINTR : error;
  return static_cast<Result>(-1);
}

int InjectOpen(const char* path, int flags, mode_t mode) {
  Role role = Role::kReportRead;
  if (injector.seam == Seam::kAppend)
    role = Role::kJournal;
  else if (flags & O_DIRECTORY)
    role = Role::kDirectory;
  else if (flags & O_CREAT)
    role = Role::kTemp;
  else if ((flags & O_ACCMODE) != O_RDONLY)
    role = Role::kProbe;
  if (Hit(Op::kOpen, role))
    return Failed<int>(EACCES);
  const int fd = platform::PosixOpen(path, flags, mode);
  if (fd >= 0)
    injector.roles[fd] = role;
  return fd;
}

ssize_t InjectRead(int fd, void* buffer, size_t count) {
  if (Hit(Op::kRead, RoleOfDescriptor(fd)))
    return Failed<ssize_t>(EIO);
  return platform::PosixRead(fd, buffer, count);
}

ssize_t InjectPread(int fd, void* buffer, size_t count, off_t offset) {
  if (Hit(Op::kPread, RoleOfDescriptor(fd)))
    return Failed<ssize_t>(EIO);
  return platform::PosixPread(fd, buffer, count, offset);
}

ssize_t InjectWrite(int fd, const void* buffer, size_t count) {
  if (Hit(Op::kWrite, RoleOfDescriptor(fd))) {
    if (injector.mode != Mode::kShort || count < 2)
      return Failed<ssize_t>(ENOSPC);
    injector.disk_full = true;
    return platform::PosixWrite(fd, buffer, count / 2);
  }
  if (injector.disk_full) {
    errno = ENOSPC;
    return -1;
  }
  return platform::PosixWrite(fd, buffer, count);
}

// Durability against power loss is not what this test checks, and a real
// flush per rewrite would make its thousand sessions take minutes.
int InjectFsync(int fd) {
  if (Hit(Op::kFsync, RoleOfDescriptor(fd)))
    return Failed<int>(EIO);
  return 0;
}

// As on Linux, a failing close still releases the descriptor.
int InjectClose(int fd) {
  const bool hit = Hit(Op::kClose, RoleOfDescriptor(fd));
  injector.roles.erase(fd);
  const int result = platform::PosixClose(fd);
  if (hit) {
    errno = EIO;
    return -1;
  }
  return result;
}

int InjectRename(const char* from, const char* to) {
  if (Hit(Op::kRename, injector.seam == Seam::kAppend ? Role::kJournal : Role::kRename))
    return Failed<int>(EACCES);
  return platform::PosixRename(from, to);
}

int InjectUnlink(const char* path) {
  if (Hit(Op::kUnlink, injector.seam == Seam::kAppend ? Role::kJournal : Role::kCleanup))
    return Failed<int>(EIO);
  return platform::PosixUnlink(path);
}

int InjectFstat(int fd, struct stat* status) {
  if (Hit(Op::kFstat, RoleOfDescriptor(fd)))
    return Failed<int>(EIO);
  return platform::PosixFstat(fd, status);
}

PosixSyscalls InjectingTable() {
  PosixSyscalls table;
  table.open = &InjectOpen;
  table.read = &InjectRead;
  table.write = &InjectWrite;
  table.fsync = &InjectFsync;
  table.close = &InjectClose;
  table.rename = &InjectRename;
  table.unlink = &InjectUnlink;
  table.pread = &InjectPread;
  table.fstat = &InjectFstat;
  return table;
}

// The ways an operation of each kind is failed. EINTR only where the
// platform retries it; a close that reports EINTR has closed the file all
// the same, and the platform rightly counts it as a failed write.
std::vector<Mode> ModesFor(Op op) {
  switch (op) {
    case Op::kWrite:
      return {Mode::kFail, Mode::kShort, Mode::kInterrupt};
    case Op::kOpen:
    case Op::kRead:
    case Op::kFsync:
    case Op::kPread:
      return {Mode::kFail, Mode::kInterrupt};
    default:
      return {Mode::kFail};
  }
}

// What the platform call must report when the injected failure hit `role`.
// An interruption is ridden out; steps after the rename, the probe's own
// close and the close after a read cannot lose anything and are not
// reported; the rest fail the call.
IoStatus ExpectedStatus(Role role, Op op, Mode mode) {
  if (mode == Mode::kInterrupt)
    return IoStatus::kOk;
  switch (role) {
    case Role::kReportRead:
      return op == Op::kClose ? IoStatus::kOk : IoStatus::kOpenFailed;
    case Role::kProbe:
      return op == Op::kOpen ? IoStatus::kCreateFailed : IoStatus::kOk;
    case Role::kTemp:
      return op == Op::kOpen ? IoStatus::kCreateFailed : IoStatus::kWriteFailed;
    case Role::kRename:
      return IoStatus::kCreateFailed;
    default:
      return IoStatus::kOk;
  }
}

// ---------------------------------------------------------------------------
// The injecting platform: files through the native platform (and so the
// table), with a record of what each read and rewrite returned.

struct Outcome {
  Seam seam;
  IoStatus status;
  std::string bytes;  // what a rewrite was handed
};

class InjectingPlatform : public FakePlatform {
 public:
  std::deque<Outcome> outcomes;          // reads and rewrites not yet matched by the model
  std::vector<std::string> seam_faults;  // mismatches of ExpectedStatus
  long rewrites = 0;                     // rewrites begun
  // When the injected failure came inside a rewrite: its number (1-based)
  // and the report as that rewrite left it.
  long failed_rewrite = 0;
  std::optional<std::string> report_after_failed_rewrite;

  IoResult ReadFile(const std::string& path, std::string& bytes) override {
    Enter(Seam::kRead);
    const IoResult result = FakePlatform::ReadFile(path, bytes);
    Leave(result);
    outcomes.push_back({Seam::kRead, result.status, {}});
    return result;
  }
  IoResult ReplaceFile(const std::string& path, std::string_view bytes) override {
    ++rewrites;
    Enter(Seam::kReplace);
    const IoResult result = FakePlatform::ReplaceFile(path, bytes);
    if (injector.fired_in_seam) {
      failed_rewrite = rewrites;
      if (fs::exists(path))
        report_after_failed_rewrite = ReadBytes(path);
    }
    Leave(result);
    outcomes.push_back({Seam::kReplace, result.status, std::string(bytes)});
    return result;
  }
  IoResult AppendLine(const std::string& path, std::string_view line) override {
    Enter(Seam::kAppend);
    const IoResult result = FakePlatform::AppendLine(path, line);
    Leave(result);
    return result;
  }
  // The journal's flush counts as part of its append.
  IoResult FlushFile(const std::string& path) override {
    Enter(Seam::kAppend);
    const IoResult result = FakePlatform::FlushFile(path);
    Leave(result);
    return result;
  }

 private:
  void Enter(Seam seam) {
    injector.seam = seam;
    injector.fired_in_seam = false;
  }
  void Leave(const IoResult& result) {
    if (injector.fired_in_seam && injector.fired_role != Role::kJournal) {
      const IoStatus expected =
          ExpectedStatus(injector.fired_role, injector.fired_op, injector.mode);
      if (result.status != expected) {
        seam_faults.push_back(std::string(OpName(injector.fired_op)) + " of " +
                              RoleName(injector.fired_role) + " gave status " +
                              std::to_string(static_cast<int>(result.status)) + ", expected " +
                              std::to_string(static_cast<int>(expected)));
      }
    }
    injector.seam = Seam::kNone;
    injector.fired_in_seam = false;
    injector.disk_full = false;
  }
};

// ---------------------------------------------------------------------------
// The session and its plain model.

struct Step {
  enum Kind { kInit, kScenario, kTime, kMessage, kFactor, kSink, kFree, kRestart } kind;
  std::int32_t number = 0;  // game time, scenario number slot, unit slot or factor
  const char* text = nullptr;
  const char* series = nullptr;
  std::int32_t time = 0;  // the game time of a scenario
  const GameDateRec* start = nullptr;
};

const char* EntryPointOf(Step::Kind kind) {
  static const char* const kNames[] = {"DLLInit",    "ScenLoad", "GameTime", "MsgLog",
                                       "TimeFactor", "UnitSink", "DLLFree",  "restart"};
  return kNames[kind];
}

const GameDateRec kFirstStart{1942, 5, 4, 6, 0, 0, 0};
const GameDateRec kSecondStart{1943, 1, 10, 12, 0, 0, 3};
const GameDateRec kThirdStart{1944, 6, 6, 5, 30, 0, 0};

Step Scenario(std::uint32_t number, const char* name, const char* series, std::int32_t time,
              const GameDateRec* start) {
  return {Step::kScenario, static_cast<std::int32_t>(number), name, series, time, start};
}
Step Time(std::int32_t t) {
  return {Step::kTime, t};
}
Step Message(const char* text) {
  return {Step::kMessage, 0, text};
}

// Two runs of the host: a first play that begins the report, with a
// replaced message, a padded one, a null one and a second scenario; then a
// later run whose first message comes before any scenario has opened a store.
const std::vector<Step>& PlaySteps() {
  static const std::vector<Step> steps = {
      {Step::kInit},
      Scenario(2, "ignored", "Convoy", 100000, &kFirstStart),
      Time(100060),
      Message("Carrier group sighted"),
      {Step::kFactor, 4},
      Time(100120),
      Message("Strike launched"),
      Message("Strike launched, second wave"),
      {Step::kSink, 0x1203, nullptr, "Escort 2"},
      Time(100180),
      Message("  padded  "),
      Time(100190),
      Message(nullptr),
      Scenario(0xFFFF, "Patrol", nullptr, 100000, &kSecondStart),
      Time(100060),
      Message("replaces a message of the first scenario"),
      Time(100240),
      Message("two\r\nlines"),
      {Step::kFree},
      {Step::kRestart},
      {Step::kInit},
      Time(100300),
      Message("before any scenario"),
      Scenario(0, nullptr, "Raid", 100000, &kThirdStart),
      Time(100360),
      Message("M5"),
      {Step::kFactor, 8},
      {Step::kSink, 1, nullptr, nullptr},
      Time(100420),
      Message("M6"),
      {Step::kFree},
  };
  return steps;
}

void RunReal(const Step& step) {
  switch (step.kind) {
    case Step::kInit:
      DLLInit(0);
      break;
    case Step::kScenario:
      ScenLoad(0, static_cast<std::uint32_t>(step.number), step.text, 0, step.series, 0, step.time,
               0, step.start);
      break;
    case Step::kTime:
      GameTime(step.number, 0);
      break;
    case Step::kMessage:
      MsgLog(step.text);
      break;
    case Step::kFactor:
      TimeFactor(step.number);
      break;
    case Step::kSink:
      UnitSink(static_cast<std::uint32_t>(step.number), step.series);
      break;
    case Step::kFree:
      DLLFree();
      break;
    case Step::kRestart:
      ResetSession();  // the host loads the module afresh
      break;
  }
}

std::string GameDateText(const GameDateRec& d) {
  char text[96];
  std::snprintf(text, sizeof text, " %.4d-%.2d-%.2d %.2d:%.2d:%.2d", d.Year, d.Month, d.Day, d.Hour,
                d.Minute, d.Second);
  return text;
}

// What the session does to the report, on the plain store: it takes, in
// order, what the real run's reads and rewrites returned, and says what the
// report holds and which failures the debug output names.
class ModelSession {
 public:
  ModelSession(std::string path, std::string now) : path_(std::move(path)), now_(std::move(now)) {}

  // Runs `step` against the outcomes of the real call; false with `why`
  // when the real call read or wrote something the model did not.
  bool Run(const Step& step, std::deque<Outcome>& outcomes, std::vector<std::string>& debug,
           std::string& why) {
    outcomes_ = &outcomes;
    debug_ = &debug;
    why_ = &why;
    const char* entry = EntryPointOf(step.kind);
    switch (step.kind) {
      case Step::kInit:
        if (!disk_) {
          store_.emplace(std::nullopt);
          Write(entry, "Initial Start", "Actual Date ", " " + now_);
        }
        break;
      case Step::kScenario: {
        clock_ = step.time;
        if (!Open(entry))
          break;
        const std::int16_t number = static_cast<std::int16_t>(step.number & 0xFFFF);
        const std::string scenario = number == -1 ? std::string(step.text ? step.text : "")
                                                  : std::string(step.series ? step.series : "") +
                                                        "/Scen#" + std::to_string(number + 1);
        const GameDateRec start = step.start ? *step.start : GameDateRec{};
        Write(entry, "Session Start", "Game Date ", GameDateText(start)) &&
            Write(entry, "Session Start", "Game Time ", std::to_string(clock_)) &&
            Write(entry, "Session Start", "Scenario ", scenario);
        break;
      }
      case Step::kTime:
        clock_ = step.number;
        break;
      case Step::kMessage:
        if (store_ || Open(entry))
          Write(entry, "log", std::to_string(clock_), step.text ? step.text : "");
        break;
      case Step::kRestart:
        store_.reset();
        clock_ = 0;
        break;
      default:
        break;
    }
    if (why.empty() && !outcomes.empty())
      why = "the real call made a read or rewrite the model does not";
    return why.empty();
  }

  const std::optional<std::string>& disk() const { return disk_; }

 private:
  // A new store on the report; false when the read failed and the previous
  // store stays.
  bool Open(const char* entry) {
    if (!disk_) {
      store_.emplace(std::nullopt);
      return true;
    }
    const std::optional<Outcome> read = Next(Seam::kRead);
    if (!read)
      return false;
    if (read->status != IoStatus::kOk) {
      debug_->push_back(std::string(entry) + ": EFOpenError: Unable to open file \"" + path_ +
                        "\"");
      return false;
    }
    store_.emplace(*disk_);
    return true;
  }

  bool Write(const char* entry, std::string_view section, std::string_view key,
             std::string_view value) {
    const std::string text = store_->Put(section, key, value);
    const std::optional<Outcome> write = Next(Seam::kReplace);
    if (!write)
      return false;
    if (write->bytes != text) {
      *why_ = "rewrite handed\n" + write->bytes + "\nwhere the model writes\n" + text;
      return false;
    }
    if (write->status == IoStatus::kWriteFailed) {
      debug_->push_back(std::string(entry) + ": EWriteError: Stream write error");
      return false;
    }
    if (write->status != IoStatus::kOk) {
      debug_->push_back(std::string(entry) + ": EFCreateError: Unable to create file \"" + path_ +
                        "\"");
      return false;
    }
    disk_ = text;
    store_->Rebuild();
    return true;
  }

  std::optional<Outcome> Next(Seam seam) {
    if (outcomes_->empty() || outcomes_->front().seam != seam) {
      *why_ = seam == Seam::kRead ? "the model reads the report here, the real call did not"
                                  : "the model rewrites the report here, the real call did not";
      return std::nullopt;
    }
    Outcome next = std::move(outcomes_->front());
    outcomes_->pop_front();
    return next;
  }

  std::string path_;
  std::string now_;
  std::optional<std::string> disk_;
  std::optional<reference::Store> store_;
  std::int32_t clock_ = 0;
  std::deque<Outcome>* outcomes_ = nullptr;
  std::vector<std::string>* debug_ = nullptr;
  std::string* why_ = nullptr;
};

// ---------------------------------------------------------------------------
// The tests.

std::vector<std::string> Listing(const fs::path& dir) {
  std::vector<std::string> names;
  for (const auto& entry : fs::directory_iterator(dir))
    names.push_back(entry.path().filename().string());
  std::sort(names.begin(), names.end());
  return names;
}

int OpenDescriptors() {
  int count = 0;
  for ([[maybe_unused]] const auto& entry : fs::directory_iterator("/proc/self/fd"))
    ++count;
  return count;
}

std::optional<std::string> FileIfAny(const std::string& path) {
  if (!fs::exists(path))
    return std::nullopt;
  return ReadBytes(path);
}

bool IsJournalLine(const std::string& line) {
  return line.find(": journal: ") != std::string::npos;
}

struct Trial {
  long fail_at = 0;  // 0: no failure
  Mode mode = Mode::kFail;
};

struct TrialResult {
  std::vector<std::optional<std::string>> reports;  // the report after each step
  std::vector<std::string> rewrites;                // every successful rewrite's bytes
  long operations = 0;
  std::vector<Op> ops;
  long failed_rewrite = 0;  // see InjectingPlatform
  std::optional<std::string> report_after_failed_rewrite;
};

class FaultInjectionTest : public ::testing::Test {
 protected:
  static void SetUpTestSuite() {
    // Renaming over a file on a disk file system may flush it (ext4 does),
    // which would make the several hundred sessions take most of a minute;
    // what is checked here does not depend on the file system.
    if (access("/dev/shm", W_OK) == 0)
      setenv("TMPDIR", "/dev/shm", 1);
  }
  void SetUp() override {
    ProcessFormatSettings() = TFormatSettings{};
    ResetSession();
  }
  void TearDown() override {
    Syscalls() = PosixSyscalls{};
    ResetSession();
  }

  // Runs the session in a fresh directory with `trial`'s failure, checking
  // every step against the plain model.
  TrialResult RunSession(const Trial& trial) {
    const std::string trace = trial.fail_at == 0 ? std::string("no failure")
                                                 : "operation " + std::to_string(trial.fail_at) +
                                                       " " + ModeName(trial.mode);
    SCOPED_TRACE(trace);
    TrialResult result;
    TempDir dir;
    InjectingPlatform fake;
    fake.executable_path = dir.File("host.exe");
    ScopedPlatform installed(fake);
    CallerThreadWrites writes;
    const std::string report = dir.File("Tarveld.txt");
    ModelSession model(report, DateTimeText(LocalNow()));
    ResetSession();

    const int descriptors = OpenDescriptors();
    injector = Injector{};
    injector.fail_at = trial.fail_at;
    injector.mode = trial.mode;
    Syscalls() = InjectingTable();

    const std::vector<Step>& steps = PlaySteps();
    for (std::size_t i = 0; i < steps.size(); ++i) {
      SCOPED_TRACE("step " + std::to_string(i) + " " + EntryPointOf(steps[i].kind));
      const bool fired_before = injector.fired;
      fake.debug_lines.clear();
      RunReal(steps[i]);
      const bool failed_here = injector.fired && !fired_before;
      for (const Outcome& outcome : fake.outcomes) {
        if (outcome.seam == Seam::kReplace && outcome.status == IoStatus::kOk)
          result.rewrites.push_back(outcome.bytes);
      }

      std::vector<std::string> expected_debug;
      std::string why;
      const bool matched = model.Run(steps[i], fake.outcomes, expected_debug, why);
      fake.outcomes.clear();
      EXPECT_TRUE(matched) << why;
      EXPECT_THAT(fake.seam_faults, ::testing::IsEmpty());
      fake.seam_faults.clear();

      const std::optional<std::string> on_disk = FileIfAny(report);
      EXPECT_EQ(on_disk, model.disk());
      result.reports.push_back(on_disk);

      // Report failures as the model names them; a journal failure only
      // where the injected failure hit the journal.
      std::vector<std::string> report_lines;
      std::vector<std::string> journal_lines;
      for (const std::string& line : fake.debug_lines)
        (IsJournalLine(line) ? journal_lines : report_lines).push_back(line);
      EXPECT_EQ(report_lines, expected_debug);
      if (!(failed_here && injector.fired_role == Role::kJournal)) {
        EXPECT_THAT(journal_lines, ::testing::IsEmpty());
      }
      EXPECT_LE(journal_lines.size(), 1u);
      for (const std::string& line : journal_lines)
        EXPECT_THAT(
            line, ::testing::StartsWith(std::string(EntryPointOf(steps[i].kind)) + ": journal: "));

      for (const std::string& name : Listing(dir.path()))
        EXPECT_TRUE(name == "Tarveld.txt" || name == "Tarveld.log") << "stray file " << name;
    }
    Syscalls() = PosixSyscalls{};
    EXPECT_EQ(OpenDescriptors(), descriptors);
    if (trial.fail_at != 0) {
      EXPECT_TRUE(injector.fired) << "operation " << trial.fail_at << " never came";
    }
    result.operations = injector.count;
    result.ops = injector.ops;
    result.failed_rewrite = fake.failed_rewrite;
    result.report_after_failed_rewrite = fake.report_after_failed_rewrite;
    return result;
  }
};

TEST_F(FaultInjectionTest, FailureFreeSessionMatchesThePlainModel) {
  const TrialResult clean = RunSession({});
  // The session reads, writes and journals: every kind of call is met.
  EXPECT_GT(clean.rewrites.size(), 15u);
  for (Op op : {Op::kOpen, Op::kRead, Op::kWrite, Op::kFsync, Op::kClose, Op::kRename})
    EXPECT_NE(std::find(clean.ops.begin(), clean.ops.end(), op), clean.ops.end()) << OpName(op);
  ASSERT_TRUE(clean.reports.back().has_value());
  EXPECT_THAT(*clean.reports.back(), ::testing::HasSubstr("[log]\r\n100060=replaces a message"));
}

// Every operation of the session, failed in every way its kind can fail.
TEST_F(FaultInjectionTest, EveryFailureLeavesTheOldOrTheNewReport) {
  const TrialResult clean = RunSession({});
  ASSERT_FALSE(HasFailure());
  // The report after each successful rewrite of the failure-free run.
  std::vector<std::optional<std::string>> states = {std::nullopt};
  for (const auto& rewrite : clean.rewrites)
    states.push_back(rewrite);

  long trials = 0;
  long lost_rewrites = 0;  // rewrites that failed, leaving the report before them
  std::map<std::string, long> by_role;
  for (long n = 1; n <= clean.operations; ++n) {
    const Op op = clean.ops[n - 1];
    for (Mode mode : ModesFor(op)) {
      const TrialResult run = RunSession({n, mode});
      ++trials;
      ++by_role[RoleName(injector.fired_role)];
      // A failure inside a rewrite leaves the failure-free run's report
      // from before that rewrite, or from after it.
      if (run.failed_rewrite > 0) {
        const std::optional<std::string>& now = run.report_after_failed_rewrite;
        const bool old_one = now == states[run.failed_rewrite - 1];
        const bool new_one = now == states[run.failed_rewrite];
        EXPECT_TRUE(old_one || new_one)
            << "operation " << n << " (" << OpName(op) << ", " << ModeName(mode)
            << ") left a report that no failure-free rewrite made:\n"
            << now.value_or("(none)");
        lost_rewrites += old_one && !new_one;
      }
      if (HasFailure()) {
        ADD_FAILURE() << "stopped at operation " << n << " (" << OpName(op) << ", "
                      << ModeName(mode) << ")";
        return;
      }
    }
  }
  std::printf(
      "fault injection: %ld file operations per session, %ld sessions with a failure, "
      "%ld of them failing a rewrite of the report\n",
      clean.operations, trials, lost_rewrites);
  for (const auto& [role, count] : by_role)
    std::printf("  failures in the %s: %ld\n", role.c_str(), count);
  EXPECT_GT(trials, clean.operations);
  EXPECT_GT(lost_rewrites, 0);
}

}  // namespace
}  // namespace tarveld::testing
