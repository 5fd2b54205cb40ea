// The absent programmer on this platform's serial port: open, the probe's 50 polls and close,
// timed in process so that no process start counts.
//   probe_time PORT [RUNS]   prints the median in ms
#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <vector>

#include "link/commands.h"
#include "link/link.h"

int main(int argc, char** argv) {
  if (argc < 2) {
    std::fprintf(stderr, "usage: probe_time PORT [RUNS]\n");
    return 2;
  }
  const int runs = argc > 2 ? std::max(1, std::atoi(argv[2])) : 9;
  std::vector<double> ms;
  zelwik::Link link;
  for (int i = 0; i < runs; ++i) {
    const auto start = std::chrono::steady_clock::now();
    if (!link.OpenLink(argv[1])) {
      std::fprintf(stderr, "probe_time: cannot open %s: %s\n", argv[1], link.LastError().c_str());
      return 1;
    }
    const int reply = link.Transact(zelwik::CMD_PROBE);
    link.CloseLink();
    ms.push_back(std::chrono::duration<double, std::milli>(std::chrono::steady_clock::now() - start)
                     .count());
    if (reply != 0) {
      std::fprintf(stderr, "probe_time: the programmer answered 0x%02X\n", reply);
      return 1;
    }
  }
  std::sort(ms.begin(), ms.end());
  std::printf("%.1f\n", ms[ms.size() / 2]);
  return 0;
}
