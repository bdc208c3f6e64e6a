// Counts the frames the launcher presents, without changing the launcher: preloaded with
// LD_PRELOAD, it wraps glfwSwapBuffers. $ZELK_FRAME_COUNTER names a file of two 64-bit counters,
// mapped shared so that the benchmark reads them while the launcher runs:
//   [0] presents so far
//   [1] CLOCK_MONOTONIC nanoseconds at which the first present returned
#include <dlfcn.h>
#include <fcntl.h>
#include <sys/mman.h>
#include <time.h>
#include <unistd.h>

#include <cstdint>
#include <cstdlib>

struct GLFWwindow;

namespace {

uint64_t* MapCounters() {
  const char* path = std::getenv("ZELK_FRAME_COUNTER");
  if (path == nullptr) return nullptr;
  const int fd = open(path, O_RDWR | O_CLOEXEC);
  if (fd < 0) return nullptr;
  void* mapped = mmap(nullptr, 2 * sizeof(uint64_t), PROT_READ | PROT_WRITE, MAP_SHARED, fd, 0);
  close(fd);
  return mapped == MAP_FAILED ? nullptr : static_cast<uint64_t*>(mapped);
}

}  // namespace

extern "C" void glfwSwapBuffers(GLFWwindow* window) {
  using SwapBuffers = void (*)(GLFWwindow*);
  static const auto real = reinterpret_cast<SwapBuffers>(dlsym(RTLD_NEXT, "glfwSwapBuffers"));
  static uint64_t* const counters = MapCounters();
  real(window);
  if (counters == nullptr) return;
  if (__atomic_load_n(&counters[0], __ATOMIC_RELAXED) == 0) {
    timespec now{};
    clock_gettime(CLOCK_MONOTONIC, &now);
    __atomic_store_n(&counters[1], uint64_t(now.tv_sec) * 1'000'000'000u + uint64_t(now.tv_nsec),
                     __ATOMIC_RELAXED);
  }
  __atomic_fetch_add(&counters[0], 1, __ATOMIC_SEQ_CST);
}
