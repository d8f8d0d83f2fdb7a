#pragma once
// DNS-SD advertisement of the listener, replaceable in tests.

#include <cstdint>
#include <string>

namespace velopad {

class ServiceAdvertising {
  public:
    virtual ~ServiceAdvertising() = default;
    virtual void advertise(const std::string& name, std::uint16_t port) = 0;
    virtual void withdraw() = 0;
};

}  // namespace velopad
