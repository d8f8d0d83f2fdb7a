#pragma once
// A private home for one test: a temporary directory holding home/, data/, config/, cache/ and
// run/ (0700), with HOME and the XDG variables pointed at them while the object lives.

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

    // Sets (none: unsets) an environment variable until the sandbox ends.
    void setEnv(const std::string& name, const std::optional<std::string>& value);

  private:
    std::filesystem::path root_;
    std::map<std::string, std::optional<std::string>> saved_;
};

class SandboxTest : public ::testing::Test {
  protected:
    Sandbox sandbox;
};

// Keeps an agent started in `sandbox` off this session's desktop: no display, session bus, sound
// server or Qt platform is inherited, and the system bus (Avahi) points nowhere.
void isolateFromTheDesktop(Sandbox& sandbox);

void writeTextFile(const std::filesystem::path& path, const std::string& content);  // mkdir -p
std::string readTextFile(const std::filesystem::path& path);  // fails the test when unreadable
unsigned permissionBits(const std::filesystem::path& path);   // e.g. 0600

// Runs `body` in a forked child subject to file permissions (as root it becomes "nobody", so
// what it must reach needs o+x): what `body` returned, or 99 when it threw. Keep assertions out
// of `body` and build what it needs (executors, pools) inside it.
int runSubjectToFilePermissions(const std::function<int()>& body);
// Adds read (and, for directories, search) permission for everyone to `path` and below.
void makeReadableByEveryone(const std::filesystem::path& path);

}  // namespace velopad::testing
