#pragma once
// The collected output of one stream of a child process, bounded so that a chatty or hostile
// child cannot make the agent hold unlimited memory: bytes past the limit are read and dropped.

#include <cstddef>
#include <string>
#include <string_view>

namespace velopad {

class ProcessOutputBuffer {
  public:
    // One mebibyte per stream: far beyond any message a Shortcut run reports.
    static constexpr std::size_t defaultLimit = std::size_t{1} << 20;

    explicit ProcessOutputBuffer(std::size_t limit = defaultLimit) : limit_(limit) {}

    // Keeps as much of `bytes` as still fits; the rest is counted as dropped.
    void append(std::string_view bytes);

    [[nodiscard]] const std::string& bytes() const noexcept { return bytes_; }
    [[nodiscard]] bool truncated() const noexcept { return truncated_; }

    // The kept bytes as UTF-8 text, or the empty text when they are not valid UTF-8. When the
    // stream was cut, a character split by the cut is left out rather than spoiling the rest.
    [[nodiscard]] std::string text() const;

  private:
    std::size_t limit_;
    std::string bytes_;
    bool truncated_ = false;
};

// Length of the longest prefix of `bytes` that is well-formed UTF-8 (no overlong forms, no
// surrogates, nothing above U+10FFFF).
std::size_t validUtf8PrefixLength(std::string_view bytes);

}  // namespace velopad
