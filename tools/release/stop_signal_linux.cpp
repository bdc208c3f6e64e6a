#include "stop_signal.h"

#include <pthread.h>
#include <signal.h>

#include <cerrno>
#include <ctime>

namespace {

sigset_t StopSignals() {
  sigset_t set;
  sigemptyset(&set);
  sigaddset(&set, SIGINT);
  sigaddset(&set, SIGTERM);
  return set;
}

}  // namespace

void BlockStopSignals() {
  const sigset_t set = StopSignals();
  pthread_sigmask(SIG_BLOCK, &set, nullptr);
  signal(SIGPIPE, SIG_IGN);
}

StopSignalWatch::StopSignalWatch(std::function<void()> on_stop)
    : thread_([this, on_stop = std::move(on_stop)] {
        const sigset_t set = StopSignals();
        const timespec tick{0, 100'000'000};
        while (!done_.load()) {
          const int number = sigtimedwait(&set, nullptr, &tick);
          if (number > 0) {
            signal_.store(number);
            on_stop();
            return;
          }
        }
      }) {}

StopSignalWatch::~StopSignalWatch() {
  done_.store(true);
  thread_.join();
}
