// A host for the writer's lifetime tests: loads the plug-in library beside
// itself with dlopen, as a game would, plays a scenario of N messages and
// then ends in one of the ways a game can end.
//
//   writer_host returned N   after each MsgLog returns, prints its number
//                            on standard output (the test kills it at
//                            random and reads how far it got)
//   writer_host dlclose N    unloads the library without DLLFree
//   writer_host exit N       exits without DLLFree or unloading
//   writer_host again N      DLLFree, checks the disk, DLLInit, N more
//                            messages, DLLFree, checks again, unloads
//   writer_host late-exit N  DLLFree, one more MsgLog ("late"), then exits
//   writer_host late-dlclose N
//                            DLLFree, one more MsgLog ("late"), then unloads
//
// Exit status 0 when the host got through; the test then reads the files.
#include <dlfcn.h>
#include <unistd.h>

#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <fstream>
#include <sstream>
#include <string>

namespace {

struct StartRecord {
  std::int32_t year, month, day, hour, minute, second, extra;
};

std::string Directory() {
  char path[4096];
  const ssize_t n = readlink("/proc/self/exe", path, sizeof path - 1);
  if (n <= 0)
    std::exit(3);
  std::string text(path, static_cast<std::size_t>(n));
  return text.substr(0, text.rfind('/') + 1);
}

std::string Contents(const std::string& path) {
  std::ifstream in(path, std::ios::binary);
  std::ostringstream bytes;
  bytes << in.rdbuf();
  return bytes.str();
}

class Plugin {
 public:
  explicit Plugin(const std::string& path) : handle_(dlopen(path.c_str(), RTLD_NOW)) {
    if (handle_ == nullptr) {
      std::fprintf(stderr, "dlopen: %s\n", dlerror());
      std::exit(3);
    }
  }
  template <typename Function>
  Function* Get(const char* name) {
    void* symbol = dlsym(handle_, name);
    if (symbol == nullptr) {
      std::fprintf(stderr, "no %s\n", name);
      std::exit(3);
    }
    return reinterpret_cast<Function*>(symbol);
  }
  void Close() { dlclose(handle_); }

 private:
  void* handle_;
};

// The message of number `i`, as the test expects it in both files.
std::string Message(int i) {
  return "message " + std::to_string(i);
}

}  // namespace

int main(int argc, char** argv) {
  if (argc != 3)
    return 2;
  const std::string mode = argv[1];
  const int count = std::atoi(argv[2]);
  const std::string dir = Directory();
  Plugin plugin(dir + "libtarveld.so");
  auto* init = plugin.Get<void(std::uint32_t)>("DLLInit");
  auto* free_plugin = plugin.Get<void()>("DLLFree");
  auto* game_time = plugin.Get<void(std::int32_t, std::int32_t)>("GameTime");
  auto* msg_log = plugin.Get<void(const char*)>("MsgLog");
  auto* scen_load =
      plugin.Get<void(std::uint32_t, std::uint32_t, const char*, std::uint32_t, const char*,
                      std::uint32_t, std::int32_t, std::int32_t, const StartRecord*)>("ScenLoad");

  static const StartRecord start{1942, 6, 4, 4, 30, 0, 0};
  const auto play = [&](int first) {
    for (int i = first; i < first + count; ++i) {
      game_time(100000 + i, 0);
      msg_log(Message(i).c_str());
      if (mode == "returned") {
        const std::string line = std::to_string(i) + "\n";
        if (write(1, line.data(), line.size()) < 0)
          return;
      }
    }
  };
  init(0);
  scen_load(0, 2, nullptr, 0, "Convoy", 0, 100000, 0, &start);
  play(0);

  if (mode == "returned" || mode == "exit")
    std::exit(0);
  if (mode == "late-exit" || mode == "late-dlclose") {
    free_plugin();
    msg_log("late");
    if (mode == "late-exit")
      std::exit(0);
    plugin.Close();
    _exit(0);
  }
  if (mode == "dlclose") {
    plugin.Close();
    std::puts("unloaded");
    std::fflush(stdout);
    _exit(0);
  }
  if (mode == "again") {
    // DLLFree returns once everything is on disk: the last message is there.
    free_plugin();
    const std::string last = "=" + Message(count - 1) + "\r\n";
    if (Contents(dir + "Tarveld.txt").find(last) == std::string::npos)
      return 4;
    init(0);
    play(count);
    free_plugin();
    if (Contents(dir + "Tarveld.txt").find("=" + Message(2 * count - 1) + "\r\n") ==
        std::string::npos)
      return 5;
    plugin.Close();
    return 0;
  }
  return 2;
}
