// Replaces the global allocator of test_terrain to record the largest single
// request, so tests can show that refused inputs allocate nothing big.
#include <atomic>
#include <cstdlib>
#include <new>

#pragma GCC diagnostic ignored "-Wmismatched-new-delete"

std::atomic<std::size_t> gLargestAlloc{0};

void* operator new(std::size_t n) {
  std::size_t cur = gLargestAlloc.load(std::memory_order_relaxed);
  while (n > cur && !gLargestAlloc.compare_exchange_weak(cur, n, std::memory_order_relaxed)) {
  }
  if (void* p = std::malloc(n ? n : 1)) return p;
  throw std::bad_alloc();
}
void operator delete(void* p) noexcept { std::free(p); }
void operator delete(void* p, std::size_t) noexcept { std::free(p); }
