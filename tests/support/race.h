#pragma once

#include <atomic>
#include <functional>
#include <memory>
#include <thread>

namespace zelwik::testing {

// Runs `other` on a thread of its own and `here` on the caller's, both let go at the same moment
// by a spin, so that they truly overlap. Returns once `here` has, `other` perhaps still running:
// the caller joins the thread.
inline std::thread Race(std::function<void()> other, const std::function<void()>& here) {
  const auto ready = std::make_shared<std::atomic<int>>(0);
  const auto together = [ready] {
    ready->fetch_add(1);
    while (ready->load() < 2) {
    }
  };
  std::thread thread([together, other = std::move(other)] {
    together();
    other();
  });
  together();
  here();
  return thread;
}

}  // namespace zelwik::testing
