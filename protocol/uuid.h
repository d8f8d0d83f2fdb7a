#pragma once
// A 128-bit UUID value. Its text form is the canonical 8-4-4-4-12 hexadecimal groups; we write
// upper case and read either case.

#include <array>
#include <compare>
#include <cstddef>
#include <cstdint>
#include <functional>
#include <optional>
#include <string>
#include <string_view>

namespace velopad {

class Uuid {
  public:
    using Bytes = std::array<std::uint8_t, 16>;

    // The all-zero UUID.
    constexpr Uuid() = default;
    constexpr explicit Uuid(const Bytes& bytes) : bytes_(bytes) {}

    // Parses the 36-character canonical form (hex digits in either case, "-" at positions
    // 8, 13, 18 and 23). Anything else (braces, missing dashes, surrounding space) yields none.
    static std::optional<Uuid> parse(std::string_view text);

    // A fresh random (version 4, RFC 4122 variant) UUID from the system's CSPRNG.
    // Throws std::runtime_error if the random source fails.
    static Uuid random();

    // Canonical upper-case text, 36 characters.
    std::string toString() const;

    const Bytes& bytes() const { return bytes_; }

    friend auto operator<=>(const Uuid&, const Uuid&) = default;
    friend bool operator==(const Uuid&, const Uuid&) = default;

  private:
    Bytes bytes_{};
};

}  // namespace velopad

template <>
struct std::hash<velopad::Uuid> {
    std::size_t operator()(const velopad::Uuid& uuid) const noexcept;
};
