#include "host_process.h"

#include <errno.h>
#include <fcntl.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cstdlib>
#include <stdexcept>

namespace tarveld::testing {

HostRun RunProgram(const std::string& program, const std::vector<std::string>& arguments,
                   const std::filesystem::path& workdir) {
  const std::string out_path = (workdir / ".host-stdout").string();
  const std::string err_path = (workdir / ".host-stderr").string();
  std::vector<std::string> copies = arguments;
  std::vector<char*> argv;
  std::string program_copy = program;
  argv.push_back(program_copy.data());
  for (std::string& argument : copies)
    argv.push_back(argument.data());
  argv.push_back(nullptr);

  const pid_t child = fork();
  if (child < 0)
    throw std::runtime_error("fork failed");
  if (child == 0) {
    const int out = open(out_path.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0644);
    const int err = open(err_path.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0644);
    if (out < 0 || err < 0 || dup2(out, 1) < 0 || dup2(err, 2) < 0 || chdir(workdir.c_str()) != 0) {
      _exit(127);
    }
    setenv("LC_ALL", "C", 1);
    execv(program.c_str(), argv.data());
    _exit(127);
  }
  int wait_status = 0;
  while (waitpid(child, &wait_status, 0) < 0 && errno == EINTR) {
  }
  HostRun run;
  run.status = WIFEXITED(wait_status) ? WEXITSTATUS(wait_status) : -1;
  run.out = ReadBytes(out_path);
  run.err = ReadBytes(err_path);
  std::filesystem::remove(out_path);
  std::filesystem::remove(err_path);
  return run;
}

}  // namespace tarveld::testing
