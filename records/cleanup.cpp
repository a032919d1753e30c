// Removal of temporary files on a fatal signal. The handler touches only the fixed
// table below and calls only unlink and raise, which are async-signal-safe.
#include "records/cleanup.h"

#include <atomic>
#include <csignal>
#include <cstring>

#include <unistd.h>

namespace rec::cleanup {
namespace {

constexpr int kSlots = 64;
constexpr std::size_t kPathMax = 4096;

struct Slot {
  volatile std::sig_atomic_t used = 0;  // set only after `path` is complete
  char path[kPathMax];
};

Slot table[kSlots];
bool installed = false;

constexpr int kFatal[] = {SIGINT, SIGTERM, SIGHUP, SIGPIPE};

extern "C" void on_fatal_signal(int sig) {
  for (Slot& s : table)
    if (s.used) ::unlink(s.path);
  // SA_RESETHAND has restored the default action; the signal is blocked while the
  // handler runs and is delivered again when it returns.
  ::raise(sig);
}

}  // namespace

void install() {
  if (installed) return;
  installed = true;
  for (int sig : kFatal) {
    struct sigaction old {};
    if (::sigaction(sig, nullptr, &old) != 0 || old.sa_handler == SIG_IGN) continue;
    struct sigaction sa {};
    sa.sa_handler = on_fatal_signal;
    sigemptyset(&sa.sa_mask);
    for (int other : kFatal) sigaddset(&sa.sa_mask, other);
    sa.sa_flags = SA_RESETHAND;
    ::sigaction(sig, &sa, nullptr);
  }
  std::signal(SIGXFSZ, SIG_IGN);
}

int add(const char* path) {
  install();
  const std::size_t len = std::strlen(path);
  if (len >= kPathMax) return -1;
  for (int i = 0; i < kSlots; ++i) {
    if (table[i].used) continue;
    std::memcpy(table[i].path, path, len + 1);
    std::atomic_signal_fence(std::memory_order_seq_cst);  // the name is complete first
    table[i].used = 1;
    return i;
  }
  return -1;
}

void release(int slot) {
  if (slot >= 0 && slot < kSlots) table[slot].used = 0;
}

SignalsHeld::SignalsHeld() {
  sigset_t set;
  sigemptyset(&set);
  for (int sig : kFatal) sigaddset(&set, sig);
  ::sigprocmask(SIG_BLOCK, &set, &old_);
}

SignalsHeld::~SignalsHeld() { ::sigprocmask(SIG_SETMASK, &old_, nullptr); }

}  // namespace rec::cleanup
