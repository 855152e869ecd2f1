#include "cores.h"

#include <algorithm>
#include <atomic>
#include <system_error>
#include <thread>
#include <vector>

void run_on_cores(size_t count, const std::function<void(size_t)>& task) {
  std::atomic<size_t> next{0};
  auto work = [&] {
    for (size_t k; (k = next.fetch_add(1)) < count;) task(k);
  };
  size_t cores = std::max<size_t>(std::thread::hardware_concurrency(), 1);
  std::vector<std::thread> threads;
  threads.reserve(std::min(count, cores));
  for (size_t t = 1; t < std::min(count, cores); ++t) {
    try {
      threads.emplace_back(work);
    } catch (const std::system_error&) {
      // Only an exception tells that the system gives no thread: the
      // threads there are take the tasks.
      break;
    }
  }
  work();
  for (std::thread& thread : threads) thread.join();
}
