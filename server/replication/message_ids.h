#pragma once
// The message ID counter shared by SOA queries, zone transfer requests and NOTIFY messages:
// incremented before each use, back to 1 past 32767.
#include <cstdint>

class clReplicationIds {
  public:
    int32_t Next() {
        if (++value_ > 32767) value_ = 1;
        return value_;
    }
    int32_t Last() const { return value_; }
    void Set(int32_t value) { value_ = value; }

  private:
    int32_t value_ = 0;
};
