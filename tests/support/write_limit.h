#pragma once
// Makes this process's file writes fail past a size, for root too (a read-only folder stops
// nobody running as root, and CI runs the tests as root). Every write in the scope is limited.
#include <signal.h>
#include <sys/resource.h>

namespace kest::test {

class ScopedWriteLimit {
  public:
    explicit ScopedWriteLimit(rlim_t bytes) {
        // A write past the limit fails with EFBIG instead of ending the process.
        oldHandler_ = ::signal(SIGXFSZ, SIG_IGN);
        if (::getrlimit(RLIMIT_FSIZE, &old_) != 0) return;
        rlimit lower = old_;
        lower.rlim_cur = bytes;
        active_ = ::setrlimit(RLIMIT_FSIZE, &lower) == 0;
    }
    ~ScopedWriteLimit() {
        if (active_) ::setrlimit(RLIMIT_FSIZE, &old_);
        ::signal(SIGXFSZ, oldHandler_);
    }
    ScopedWriteLimit(const ScopedWriteLimit&) = delete;
    ScopedWriteLimit& operator=(const ScopedWriteLimit&) = delete;
    bool Active() const { return active_; }

  private:
    rlimit old_{};
    sighandler_t oldHandler_ = SIG_DFL;
    bool active_ = false;
};

}  // namespace kest::test
