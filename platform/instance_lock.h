#pragma once
// One running copy per lock file: an exclusive flock, released by the kernel when the holder
// ends, so a lock file left behind by a dead process does not block.
#include <filesystem>

namespace platform {

class InstanceLock {
  public:
    InstanceLock() = default;
    ~InstanceLock();
    InstanceLock(const InstanceLock&) = delete;
    InstanceLock& operator=(const InstanceLock&) = delete;

    // True when this object now holds the lock (the file and its folder are made if missing);
    // false when another holder has it or the file cannot be opened.
    bool Acquire(const std::filesystem::path& file);
    void Release();
    bool Held() const { return fd_ >= 0; }

  private:
    int fd_ = -1;
};

}  // namespace platform
