// The report's changes in the order the host's calls made them, handed from
// the host's thread to the writer's.
//
// The host's thread describes what each call changes (a section, a key and
// a value, or "a scenario starts: open the report again") and appends that
// here; the writer's thread applies the changes to the one store, in
// order, and writes its text. What the host's thread pays is a copy of the
// call's own arguments, whatever the size of the report.
//
// One producer, one consumer, no lock: the producer (the thread calling
// the entry points, one call at a time) fills an item and then publishes
// the new count in one atomic store; the consumer reads only published
// items and never changes one. So a thread ended by the system at any
// instruction leaves every published item whole, and the count says which
// they are. The producer alone frees items, and only those the consumer
// has said are on disk (Reclaim), so whatever the report on disk lacks is
// still here when the module unloads.
#pragma once

#include <atomic>
#include <cstddef>
#include <cstdint>
#include <string>

namespace tarveld {

struct ReportChange {
  enum class Kind : std::uint8_t {
    kBegin,  // DLLInit: begin the report with `value` as its Actual Date, unless it exists
    kOpen,   // ScenLoad: a new store on the report, from its newest text
    kPut,    // section, key and value, on a store opened first if there is none
  };
  Kind kind = Kind::kPut;
  // The entry point whose work this is: it names the change's failures,
  // and a store that fails to open drops the rest of its call's changes.
  const char* caller = "";
  std::uint64_t call = 0;
  std::string path;
  std::string section;
  std::string key;
  std::string value;
};

struct ChangeSegment;

class ChangeLog {
 public:
  ChangeLog();
  ~ChangeLog();
  ChangeLog(const ChangeLog&) = delete;
  ChangeLog& operator=(const ChangeLog&) = delete;

  // Producer: appends `change` and publishes it.
  void Append(ReportChange&& change);
  // Producer: frees what lies wholly before item `on_disk`, which the
  // consumer has put on disk.
  void Reclaim(std::uint64_t on_disk);
  // Producer, once nothing else reads the log: forgets every item.
  void Clear();

  // Any thread: how many items were ever published.
  std::uint64_t Published() const { return published_.load(std::memory_order_acquire); }

  // Reads items in order from a position. A reader starts at an item not
  // yet reclaimed and reads only published ones; the consumer keeps one
  // for good, the unload at process exit makes its own.
  class Reader {
   public:
    Reader() = default;
    std::uint64_t Position() const { return position_; }
    // The item at Position(), which must be published; then steps on.
    const ReportChange& Next();

   private:
    friend class ChangeLog;
    ChangeSegment* segment_ = nullptr;
    std::uint64_t position_ = 0;
  };
  // A reader at `position`, which must not be reclaimed yet. Producer or,
  // with the producer idle, the consumer.
  Reader ReaderAt(std::uint64_t position) const;

 private:
  ChangeSegment* head_;  // the oldest segment not reclaimed (producer's)
  ChangeSegment* tail_;  // the one being filled (producer's)
  std::atomic<std::uint64_t> published_{0};
};

}  // namespace tarveld
