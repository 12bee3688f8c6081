#include "host/replay.h"

#include <cstdint>
#include <exception>

#include "plugin/exports.h"

namespace tarveld::host {
namespace {

// The entry points' types come from the plug-in's own declarations, so a
// change of signature there breaks this build instead of a call's stack.
using DLLVerFn = decltype(&::DLLVer);
using DLLVerIntFn = decltype(&::DLLVerInt);
using DLLDescFn = decltype(&::DLLDesc);
using DLLInitFn = decltype(&::DLLInit);
using DLLFreeFn = decltype(&::DLLFree);
using GameTimeFn = decltype(&::GameTime);
using ScenLoadFn = decltype(&::ScenLoad);
using MsgLogFn = decltype(&::MsgLog);
using TimeFactorFn = decltype(&::TimeFactor);
using UnitSinkFn = decltype(&::UnitSink);

template <typename Fn>
Fn As(const EntryPointTable& table, EntryPoint entry) {
  return reinterpret_cast<Fn>(table.address[static_cast<int>(entry)]);
}

class Runner {
 public:
  Runner(const Script& script, const EntryPointTable& table, std::ostream& out)
      : table_(table), out_(out), records_(script.records.size()) {}

  void Assign(const RecordAssignment& assignment) {
    GameDateRec& record = records_[assignment.record];
    std::int32_t* const fields[kRecordFieldCount] = {&record.Year, &record.Month,  &record.Day,
                                                     &record.Hour, &record.Minute, &record.Second,
                                                     &record.Extra};
    for (int i = 0; i < kRecordFieldCount; ++i) {
      if (assignment.fields[i])
        *fields[i] = *assignment.fields[i];
    }
  }

  void Invoke(const Call& call) {
    const std::vector<Argument>& a = call.arguments;
    switch (call.entry) {
      case EntryPoint::kDLLVer:
        out_ << "DLLVer = " << As<DLLVerFn>(table_, call.entry)() << '\n';
        break;
      case EntryPoint::kDLLVerInt:
        out_ << "DLLVerInt = " << As<DLLVerIntFn>(table_, call.entry)() << '\n';
        break;
      case EntryPoint::kDLLDesc: {
        const char* text = As<DLLDescFn>(table_, call.entry)();
        out_ << "DLLDesc = " << (text != nullptr ? QuoteText(text) : "null") << '\n';
        break;
      }
      case EntryPoint::kDLLInit:
        As<DLLInitFn>(table_, call.entry)(a[0].slot);
        break;
      case EntryPoint::kDLLFree:
        As<DLLFreeFn>(table_, call.entry)();
        break;
      case EntryPoint::kGameTime:
        As<GameTimeFn>(table_, call.entry)(Signed(a[0]), Signed(a[1]));
        break;
      case EntryPoint::kScenLoad:
        As<ScenLoadFn>(table_, call.entry)(a[0].slot, a[1].slot, Text(a[2]), a[3].slot, Text(a[4]),
                                           a[5].slot, Signed(a[6]), Signed(a[7]), Record(a[8]));
        break;
      case EntryPoint::kMsgLog:
        As<MsgLogFn>(table_, call.entry)(Text(a[0]));
        break;
      case EntryPoint::kTimeFactor:
        As<TimeFactorFn>(table_, call.entry)(Signed(a[0]));
        break;
      case EntryPoint::kUnitSink:
        As<UnitSinkFn>(table_, call.entry)(a[0].slot, Text(a[1]));
        break;
    }
  }

 private:
  static std::int32_t Signed(const Argument& argument) {
    return static_cast<std::int32_t>(argument.slot);
  }
  static const char* Text(const Argument& argument) {
    return argument.text ? argument.text->c_str() : nullptr;
  }
  const GameDateRec* Record(const Argument& argument) const {
    return argument.record >= 0 ? &records_[argument.record] : nullptr;
  }

  const EntryPointTable& table_;
  std::ostream& out_;
  // Sized once: the plug-in keeps a record's address from ScenLoad on and
  // reads it again later, so records never move.
  std::vector<GameDateRec> records_;
};

}  // namespace

std::vector<MissingEntryPoint> BindEntryPoints(const PluginLibrary& library, const Script& script,
                                               EntryPointTable& table) {
  std::vector<MissingEntryPoint> missing;
  std::array<bool, kEntryPointCount> looked_up{};
  for (const Step& step : script.steps) {
    const Call* call = std::get_if<Call>(&step.action);
    if (call == nullptr)
      continue;
    const int index = static_cast<int>(call->entry);
    if (looked_up[index])
      continue;
    looked_up[index] = true;
    const std::string_view name = EntryPointName(call->entry);
    table.address[index] = library.Find(std::string(name).c_str());
    if (table.address[index] == nullptr)
      missing.push_back({name, step.line});
  }
  return missing;
}

bool RunScript(const Script& script, const EntryPointTable& table, const ReplayOptions& options,
               std::ostream& out, std::string& failure) {
  Runner runner(script, table, out);
  for (const Step& step : script.steps) {
    if (options.trace)
      out << step.line << ": " << step.source << '\n';
    if (const auto* assignment = std::get_if<RecordAssignment>(&step.action)) {
      runner.Assign(*assignment);
      continue;
    }
    const Call& call = std::get<Call>(step.action);
    // What the host printed so far comes before whatever the plug-in says.
    out.flush();
    try {
      runner.Invoke(call);
    } catch (const std::exception& e) {
      failure = "line " + std::to_string(step.line) + ": " +
                std::string(EntryPointName(call.entry)) + " ended by an exception: " + e.what();
      return false;
    } catch (...) {
      failure = "line " + std::to_string(step.line) + ": " +
                std::string(EntryPointName(call.entry)) + " ended by an exception";
      return false;
    }
  }
  out.flush();
  return true;
}

}  // namespace tarveld::host
