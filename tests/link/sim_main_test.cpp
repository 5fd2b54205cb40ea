// zelwik-sim as a process: the path line, the loaded flash, the log and a clean stop on SIGTERM.
#include <fcntl.h>
#include <gtest/gtest.h>
#include <poll.h>
#include <signal.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cstdio>
#include <fstream>
#include <sstream>
#include <string>
#include <vector>

#include "link/chips.h"
#include "link/commands.h"
#include "link/link.h"

namespace zelwik {
namespace {

// A child that is stopped and reaped even when an assertion ends the test early.
struct Process {
  pid_t pid = -1;
  int out = -1;
  Process() = default;
  Process(pid_t p, int o) : pid(p), out(o) {}
  Process(Process&& other) noexcept : pid(other.pid), out(other.out) { other.pid = other.out = -1; }
  Process& operator=(Process&&) = delete;
  ~Process() {
    if (pid > 0) {
      kill(pid, SIGKILL);
      waitpid(pid, nullptr, 0);
    }
    if (out >= 0) close(out);
  }
};

Process Spawn(const std::vector<std::string>& args) {
  int pipeFds[2];
  if (pipe(pipeFds) != 0) return Process();
  pid_t pid = fork();
  if (pid == 0) {
    dup2(pipeFds[1], STDOUT_FILENO);
    int devNull = open("/dev/null", O_WRONLY);
    if (devNull >= 0) dup2(devNull, STDERR_FILENO);
    close(pipeFds[0]);
    close(pipeFds[1]);
    std::vector<char*> argv;
    for (const std::string& a : args) argv.push_back(const_cast<char*>(a.c_str()));
    argv.push_back(nullptr);
    execv(ZELWIK_SIM_PATH, argv.data());
    _exit(127);
  }
  close(pipeFds[1]);
  return Process(pid, pipeFds[0]);
}

// Everything the process writes to stdout until it closes it or the time is up.
std::string ReadOut(int fd, int timeoutMs, bool untilLine) {
  std::string text;
  char buffer[256];
  for (;;) {
    pollfd p{fd, POLLIN, 0};
    if (poll(&p, 1, timeoutMs) <= 0) break;
    ssize_t n = read(fd, buffer, sizeof buffer);
    if (n <= 0) break;
    text.append(buffer, static_cast<std::size_t>(n));
    if (untilLine && text.find('\n') != std::string::npos) break;
  }
  return text;
}

int WaitExit(Process& process) {
  int status = 0;
  waitpid(process.pid, &status, 0);
  process.pid = -1;
  return WIFEXITED(status) ? WEXITSTATUS(status) : 128 + WTERMSIG(status);
}

TEST(SimProcess, ServesTheFlashFileAndStopsCleanlyOnSigterm) {
  const std::string log =
      testing::TempDir() + "zelwik-sim-test-" + std::to_string(getpid()) + ".log";
  Process sim = Spawn({"zelwik-sim", "--chip", "89c2051", "--flash", ZELWIK_DEMO_HEX, "--log", log});
  ASSERT_GT(sim.pid, 0);
  std::string line = ReadOut(sim.out, 5000, true);
  ASSERT_FALSE(line.empty());
  ASSERT_EQ(line.back(), '\n');
  const std::string path = line.substr(0, line.size() - 1);
  EXPECT_EQ(path.rfind("/dev/", 0), 0u) << path;

  Link link;
  ASSERT_TRUE(link.OpenLink(path)) << link.LastError();
  EXPECT_EQ(link.Transact(CMD_PROBE), kProbeAnswer);
  EXPECT_EQ(DetectChip(link), 6);
  link.Transact(CMD_STOP);
  link.Transact(CMD_START);
  // The demo program starts with a long jump: 02 00 06.
  EXPECT_EQ(link.Transact(CMD_READ_20), 0x02);
  link.Transact(CMD_NEXT_ADDRESS);
  EXPECT_EQ(link.Transact(CMD_READ_20), 0x00);
  link.Transact(CMD_NEXT_ADDRESS);
  EXPECT_EQ(link.Transact(CMD_READ_20), 0x06);
  link.CloseLink();

  kill(sim.pid, SIGTERM);
  EXPECT_EQ(ReadOut(sim.out, 5000, false), "");  // the path was the only line
  EXPECT_EQ(WaitExit(sim), 0);

  std::ifstream in(log);
  std::stringstream content;
  content << in.rdbuf();
  EXPECT_EQ(content.str().rfind("FF000000 -> 55\n13000000 -> 00\n11000000 -> 00\n17000000 -> 21\n", 0),
            0u)
      << content.str();
  std::remove(log.c_str());
}

TEST(SimProcess, RejectsBadArgumentsWithoutServing) {
  for (const std::vector<std::string>& args : std::vector<std::vector<std::string>>{
           {"zelwik-sim"},
           {"zelwik-sim", "--chip", "89C99"},
           {"zelwik-sim", "--chip", "89C51", "--probe-reply", "1FF"},
           {"zelwik-sim", "--chip", "89C51", "--stop-after"},
           {"zelwik-sim", "--chip", "89C51", "--baud", "fast"},
           {"zelwik-sim", "--chip", "89C51", "--flash", "/nonexistent/zelwik.hex"},
           {"zelwik-sim", "--chip", "89C51", "--bogus"}}) {
    SCOPED_TRACE(args.back());
    Process sim = Spawn(args);
    ASSERT_GT(sim.pid, 0);
    EXPECT_EQ(ReadOut(sim.out, 5000, false), "");
    EXPECT_EQ(WaitExit(sim), 2);
    }
}

TEST(SimProcess, FaultOptionsReachTheModel) {
  Process sim = Spawn({"zelwik-sim", "--chip", "89C51-5V", "--probe-reply", "0xAA", "--wrong-byte", "0010"});
  ASSERT_GT(sim.pid, 0);
  std::string line = ReadOut(sim.out, 5000, true);
  ASSERT_FALSE(line.empty());
  Link link;
  ASSERT_TRUE(link.OpenLink(line.substr(0, line.size() - 1)));
  EXPECT_EQ(link.Transact(CMD_PROBE), 0xAA);
  EXPECT_EQ(link.Transact(CMD_READ, 0x00, 0x0F), 0xFF);
  EXPECT_EQ(link.Transact(CMD_READ, 0x00, 0x10), 0x00);  // 0x10 hex, not decimal
  EXPECT_EQ(link.Transact(CMD_SIG_VOLTAGE), 0x05);
  link.CloseLink();
  kill(sim.pid, SIGINT);
  EXPECT_EQ(WaitExit(sim), 0);
}

}  // namespace
}  // namespace zelwik
