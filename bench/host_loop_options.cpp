#include "bench/host_loop_options.h"

#include <algorithm>
#include <cstdlib>
#include <string_view>

namespace tarveld::bench {
namespace {

// "a,b,c", each item parsed.
template <typename T, typename Parse>
std::vector<T> List(std::string_view text, Parse parse) {
  std::vector<T> items;
  while (!text.empty()) {
    const std::size_t comma = text.find(',');
    items.push_back(parse(text.substr(0, comma)));
    text = comma == std::string_view::npos ? std::string_view() : text.substr(comma + 1);
  }
  return items;
}

}  // namespace

const char* ModeName(Mode mode) {
  return mode == Mode::kThread ? "after" : "before";
}

bool ParseOptions(int argc, char** argv, Options& options) {
  for (int i = 1; i < argc; ++i) {
    const std::string_view arg = argv[i];
    const std::size_t equals = arg.find('=');
    const std::string_view name = arg.substr(0, equals);
    const std::string value(equals == std::string_view::npos ? "" : arg.substr(equals + 1));
    const auto number = [&] { return std::atoi(value.c_str()); };
    if (name == "--dir") {
      options.dirs = List<std::string>(value, [](std::string_view s) { return std::string(s); });
    } else if (name == "--keys") {
      options.keys = List<std::int64_t>(
          value, [](std::string_view s) { return std::atoll(std::string(s).c_str()); });
    } else if (name == "--mode") {
      bool ok = true;
      options.modes = List<Mode>(value, [&](std::string_view s) {
        ok = ok && (s == "before" || s == "after");
        return s == "after" ? Mode::kThread : Mode::kCallerThread;
      });
      if (!ok)
        return false;
    } else if (name == "--scenload") {
      options.scenload = number();
    } else if (name == "--burst") {
      options.burst = number();
    } else if (name == "--calls") {
      options.calls = number();
    } else if (name == "--lag") {
      options.lag = number();
    } else if (name == "--quiet-ms") {
      options.quiet_ms = number();
    } else if (name == "--budget") {
      options.budget_s = std::atof(value.c_str());
    } else if (name == "--min-calls") {
      options.min_calls = number();
    } else {
      return false;
    }
  }
  const bool keys_ok =
      std::all_of(options.keys.begin(), options.keys.end(), [](std::int64_t k) { return k > 0; });
  return !options.dirs.empty() && keys_ok && !options.keys.empty() && !options.modes.empty() &&
         options.burst > 0 && options.calls > 0 && options.scenload > 0 && options.lag > 0;
}

}  // namespace tarveld::bench
