#pragma once
// A private home for one test: a temporary directory holding home/, data/, config/, cache/ and
// run/ (0700), with HOME and the XDG variables pointed at them while the object lives.

#include <grp.h>
#include <gtest/gtest.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <functional>
#include <map>
#include <optional>
#include <sstream>
#include <stdexcept>
#include <string>

#include "tests/support/child_process.h"

namespace velopad::testing {

class Sandbox {
  public:
    Sandbox() {
        std::string pattern =
            (std::filesystem::temp_directory_path() / "velopad-test-XXXXXX").string();
        if (::mkdtemp(pattern.data()) == nullptr) throw std::runtime_error("mkdtemp failed");
        root_ = pattern;
        for (const auto& [name, folder] : {std::pair{"HOME", "home"},
                                           {"XDG_DATA_HOME", "data"},
                                           {"XDG_CONFIG_HOME", "config"},
                                           {"XDG_CACHE_HOME", "cache"},
                                           {"XDG_RUNTIME_DIR", "run"}}) {
            std::filesystem::create_directories(root_ / folder);
            setEnv(name, (root_ / folder).string());
        }
        std::filesystem::permissions(runtimeDir(), std::filesystem::perms::owner_all);
    }
    ~Sandbox() {
        for (const auto& [name, value] : saved_) put(name, value);
        runCapturingOutput({"chmod", "-R", "u+rwX", root_.string()});  // tests leave read-only dirs
        std::error_code error;
        std::filesystem::remove_all(root_, error);
    }
    Sandbox(const Sandbox&) = delete;
    Sandbox& operator=(const Sandbox&) = delete;

    const std::filesystem::path& root() const { return root_; }
    std::filesystem::path home() const { return root_ / "home"; }
    std::filesystem::path dataHome() const { return root_ / "data"; }
    std::filesystem::path configHome() const { return root_ / "config"; }
    std::filesystem::path runtimeDir() const { return root_ / "run"; }

    // Sets (none: unsets) an environment variable until the sandbox ends.
    void setEnv(const std::string& name, const std::optional<std::string>& value) {
        if (const char* old = std::getenv(name.c_str()); !saved_.contains(name))
            saved_[name] = old ? std::optional<std::string>(old) : std::nullopt;
        put(name, value);
    }

  private:
    static void put(const std::string& name, const std::optional<std::string>& value) {
        if (value) {
            ::setenv(name.c_str(), value->c_str(), 1);
        } else {
            ::unsetenv(name.c_str());
        }
    }

    std::filesystem::path root_;
    std::map<std::string, std::optional<std::string>> saved_;
};

class SandboxTest : public ::testing::Test {
  protected:
    Sandbox sandbox;
};

// Keeps an agent started in `sandbox` off this session's desktop: no display, session bus, sound
// server or Qt platform is inherited, and the system bus (Avahi) points nowhere.
inline void isolateFromTheDesktop(Sandbox& sandbox) {
    for (const char* name : {"DISPLAY", "WAYLAND_DISPLAY", "DBUS_SESSION_BUS_ADDRESS",
                             "PULSE_SERVER", "QT_QPA_PLATFORM"}) {
        sandbox.setEnv(name, std::nullopt);
    }
    sandbox.setEnv("DBUS_SYSTEM_BUS_ADDRESS", "unix:path=" + (sandbox.root() / "no-bus").string());
}

// Writes `content` to `path`, creating its parent directories.
inline void writeTextFile(const std::filesystem::path& path, const std::string& content) {
    if (path.has_parent_path()) std::filesystem::create_directories(path.parent_path());
    std::ofstream out(path, std::ios::binary | std::ios::trunc);
    out << content;
    if (!out) throw std::runtime_error("could not write " + path.string());
}

// A desktop entry of type Application; `extraLines`, each ending in a line break, follow Exec.
inline std::string desktopEntry(const std::string& name, const std::string& exec,
                                const std::string& extraLines = "") {
    return "[Desktop Entry]\nType=Application\nName=" + name + "\nExec=" + exec + "\n" + extraLines;
}

inline std::string readTextFile(const std::filesystem::path& path) {
    std::ifstream in(path, std::ios::binary);
    EXPECT_TRUE(in.good()) << "cannot read " << path;
    std::ostringstream content;
    content << in.rdbuf();
    return content.str();
}

inline unsigned permissionBits(const std::filesystem::path& path) {  // e.g. 0600
    struct stat info {};
    if (::stat(path.c_str(), &info) != 0) return ~0u;
    return static_cast<unsigned>(info.st_mode & 07777);
}

// Runs `body` in a forked child subject to file permissions (as root it becomes "nobody", so
// what it must reach needs o+x): what `body` returned, or 99 when it threw. Keep assertions out
// of `body` and build what it needs (executors, pools) inside it.
inline int runSubjectToFilePermissions(const std::function<int()>& body) {
    const pid_t pid = ::fork();
    if (pid < 0) throw std::runtime_error("fork failed");
    if (pid == 0) {
        constexpr uid_t nobody = 65534;
        if (::geteuid() == 0 &&
            (::setgroups(0, nullptr) != 0 || ::setgid(nobody) != 0 || ::setuid(nobody) != 0)) {
            ::_exit(98);
        }
        try {
            ::_exit(body());
        } catch (...) {
            ::_exit(99);
        }
    }
    int status = 0;
    ::waitpid(pid, &status, 0);
    return WIFEXITED(status) ? WEXITSTATUS(status) : -1;
}

// Adds read (and, for directories, search) permission for everyone to `path` and below.
inline void makeReadableByEveryone(const std::filesystem::path& path) {
    runCapturingOutput({"chmod", "-R", "go+rX", path.string()});
}

}  // namespace velopad::testing
