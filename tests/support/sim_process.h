#pragma once

#include <signal.h>
#include <sys/wait.h>

#include <cstdio>
#include <string>
#include <utility>

namespace zelwik::testing {

// zelwik-sim (ZELWIK_SIM_PATH) in the background: "echo $$; exec" hands it the shell's pid, and
// the port it serves comes next.
struct SimProcess {
  explicit SimProcess(const std::string& args)
      : out(popen(("echo $$; exec " ZELWIK_SIM_PATH " " + args + " 2>/dev/null").c_str(), "r")) {
    char device[256];
    if (out && std::fscanf(out, "%d %255s", &pid, device) == 2) path = device;
  }
  ~SimProcess() {
    if (out) Stop(SIGKILL);
  }
  SimProcess(const SimProcess&) = delete;
  SimProcess& operator=(const SimProcess&) = delete;

  // Sends the signal (none: 0) and returns the exit status once it has ended.
  int Stop(int signal) {
    if (signal && pid > 0) kill(pid, signal);
    const int status = pclose(std::exchange(out, nullptr));
    return WIFEXITED(status) ? WEXITSTATUS(status) : -1;
  }

  std::FILE* out;
  int pid = 0;
  std::string path;
};

}  // namespace zelwik::testing
