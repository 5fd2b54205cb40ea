#pragma once

#include <signal.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <sstream>
#include <stdexcept>
#include <string>
#include <thread>
#include <vector>

#include "cli/command_line.h"
#include "support/temp_dir.h"

namespace zelwik::testing {

struct CliRun {
  int status;
  std::string out, err;
};

// zelwik-cli in process; a test's own wrapper supplies what it needs beyond the arguments.
inline CliRun Cli(const std::vector<std::string>& args, const PortListRoots& roots = {},
                  cli::ChipPrompt* prompt = nullptr, std::ostream* progress = nullptr) {
  std::ostringstream out, err;
  const int status = cli::RunCommandLine(args, out, err, progress, roots, prompt);
  return {status, out.str(), err.str()};
}

inline std::vector<std::string> Lines(const std::string& text) {
  std::vector<std::string> lines;
  std::istringstream in(text);
  for (std::string line; std::getline(in, line);) lines.push_back(line);
  return lines;
}

#ifdef ZELWIK_CLI_PATH
// zelwik-cli as a process started in `dir`, reading `input` (written there as `in`), writing `out`
// and `err` there, to be signalled while it runs. With `readerGone`, standard output is a pipe
// nobody reads any more (`| tee` after Ctrl+C).
struct CliProcess {
  CliProcess(const std::string& dir, const std::string& args, const std::string& input = {},
             bool readerGone = false) {
    WriteFile(dir + "/in", input);
    int output[2];
    if (pipe(output) != 0) throw std::runtime_error("pipe");
    pid = fork();
    if (pid == 0) {
      if (readerGone) dup2(output[1], STDOUT_FILENO);
      close(output[0]);
      close(output[1]);
      const std::string command = "cd " + dir + " && exec " ZELWIK_CLI_PATH " " + args + " <in" +
                                  (readerGone ? "" : " >out") + " 2>err";
      execl("/bin/sh", "sh", "-c", command.c_str(), static_cast<char*>(nullptr));
      _exit(127);
    }
    close(output[0]);
    close(output[1]);
  }
  // The exit status, minus the signal that ended it, or -1000 when still running after `limit`.
  int Wait(std::chrono::milliseconds limit = std::chrono::minutes(2)) {
    const auto end = std::chrono::steady_clock::now() + limit;
    int status = 0;
    while (waitpid(pid, &status, WNOHANG) == 0) {
      if (std::chrono::steady_clock::now() > end) {
        kill(pid, SIGKILL);
        waitpid(pid, &status, 0);
        return -1000;
      }
      std::this_thread::sleep_for(std::chrono::milliseconds(5));
    }
    return WIFEXITED(status) ? WEXITSTATUS(status) : -WTERMSIG(status);
  }
  pid_t pid;
};
#endif

}  // namespace zelwik::testing
