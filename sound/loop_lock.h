#pragma once

#include <pulse/thread-mainloop.h>

// Clang's thread-safety analysis checks who holds the loop's lock where the output's state is
// touched; other compilers see plain code.
#if defined(__clang__)
#define VINDELOR_THREADS(attribute) __attribute__((attribute))
#else
#define VINDELOR_THREADS(attribute)
#endif
#define VINDELOR_GUARDED_BY(lock) VINDELOR_THREADS(guarded_by(lock))
#define VINDELOR_REQUIRES(lock) VINDELOR_THREADS(requires_capability(lock))
#define VINDELOR_EXCLUDES(lock) VINDELOR_THREADS(locks_excluded(lock))

namespace vindelor {

// The lock of libpulse's threaded main loop. The sound thread holds it while it runs the
// loop's callbacks; the window's thread takes it to work requests off itself, and for the few
// calls that read or set up the output's state.
class VINDELOR_THREADS(capability("loop lock")) LoopLock {
  public:
    explicit LoopLock(pa_threaded_mainloop* loop) : loop_(loop) {}

    void lock() VINDELOR_THREADS(acquire_capability()) { pa_threaded_mainloop_lock(loop_); }
    void unlock() VINDELOR_THREADS(release_capability()) { pa_threaded_mainloop_unlock(loop_); }
    // At the top of a callback of the loop, which runs with the lock held.
    void heldByLoop() const VINDELOR_THREADS(assert_capability(this)) {}

  private:
    pa_threaded_mainloop* loop_;
};

}  // namespace vindelor
