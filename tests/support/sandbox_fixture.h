#pragma once
// A private home for one test: a fresh temporary directory holding home/, data/, config/,
// cache/ and run/ (mode 0700), with HOME and the XDG variables pointed at them while the object
// lives. Service fixtures build on `SandboxTest`.

#include <gtest/gtest.h>

#include <filesystem>
#include <functional>
#include <map>
#include <optional>
#include <string>

namespace velopad::testing {

class Sandbox {
  public:
    Sandbox();
    ~Sandbox();
    Sandbox(const Sandbox&) = delete;
    Sandbox& operator=(const Sandbox&) = delete;

    const std::filesystem::path& root() const { return root_; }
    std::filesystem::path home() const { return root_ / "home"; }
    std::filesystem::path dataHome() const { return root_ / "data"; }
    std::filesystem::path configHome() const { return root_ / "config"; }
    std::filesystem::path runtimeDir() const { return root_ / "run"; }

    // Sets (or, with no value, unsets) an environment variable until the sandbox ends.
    void setEnv(const std::string& name, const std::optional<std::string>& value);

  private:
    std::filesystem::path root_;
    std::map<std::string, std::optional<std::string>> saved_;
};

class SandboxTest : public ::testing::Test {
  protected:
    Sandbox sandbox;
};

// Writes `content` to `path`, creating its parent directories.
void writeTextFile(const std::filesystem::path& path, const std::string& content);
// The content of `path`; fails the test if it cannot be read.
std::string readTextFile(const std::filesystem::path& path);
// The permission bits of `path`, e.g. 0600.
unsigned permissionBits(const std::filesystem::path& path);

// Runs `body` in a forked child subject to file permissions (as root it becomes "nobody", so
// what it must reach needs o+x): what `body` returned, or 99 when it threw. Keep assertions out
// of `body` and build what it needs (executors, pools) inside it.
int runSubjectToFilePermissions(const std::function<int()>& body);

// Adds read (and, for directories, search) permission for everyone to `path` and below.
void makeReadableByEveryone(const std::filesystem::path& path);

}  // namespace velopad::testing
