#include "tests/support/sandbox_fixture.h"

#include <grp.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cstdlib>
#include <fstream>
#include <sstream>
#include <stdexcept>

namespace velopad::testing {
namespace fs = std::filesystem;

Sandbox::Sandbox() {
    std::string pattern = (fs::temp_directory_path() / "velopad-test-XXXXXX").string();
    if (::mkdtemp(pattern.data()) == nullptr) throw std::runtime_error("mkdtemp failed");
    root_ = pattern;
    for (const auto& [name, folder] : {std::pair{"HOME", "home"},
                                       {"XDG_DATA_HOME", "data"},
                                       {"XDG_CONFIG_HOME", "config"},
                                       {"XDG_CACHE_HOME", "cache"},
                                       {"XDG_RUNTIME_DIR", "run"}}) {
        fs::create_directories(root_ / folder);
        setEnv(name, (root_ / folder).string());
    }
    fs::permissions(runtimeDir(), fs::perms::owner_all);
}

Sandbox::~Sandbox() {
    for (const auto& [name, value] : saved_) {
        if (value) {
            ::setenv(name.c_str(), value->c_str(), 1);
        } else {
            ::unsetenv(name.c_str());
        }
    }
    // Tests may leave read-only directories behind.
    std::error_code error;
    fs::permissions(root_, fs::perms::owner_all, fs::perm_options::add, error);
    for (auto it = fs::recursive_directory_iterator(root_, error);
         !error && it != fs::recursive_directory_iterator(); it.increment(error)) {
        if (it->is_directory(error)) {
            fs::permissions(it->path(), fs::perms::owner_all, fs::perm_options::add, error);
        }
    }
    fs::remove_all(root_, error);
}

void Sandbox::setEnv(const std::string& name, const std::optional<std::string>& value) {
    if (!saved_.contains(name)) {
        const char* old = std::getenv(name.c_str());
        saved_[name] = old ? std::optional<std::string>(old) : std::nullopt;
    }
    if (value) {
        ::setenv(name.c_str(), value->c_str(), 1);
    } else {
        ::unsetenv(name.c_str());
    }
}

void isolateFromTheDesktop(Sandbox& sandbox) {
    for (const char* name : {"DISPLAY", "WAYLAND_DISPLAY", "DBUS_SESSION_BUS_ADDRESS",
                             "PULSE_SERVER", "QT_QPA_PLATFORM"}) {
        sandbox.setEnv(name, std::nullopt);
    }
    sandbox.setEnv("DBUS_SYSTEM_BUS_ADDRESS", "unix:path=" + (sandbox.root() / "no-bus").string());
}

void writeTextFile(const fs::path& path, const std::string& content) {
    if (path.has_parent_path()) fs::create_directories(path.parent_path());
    std::ofstream out(path, std::ios::binary | std::ios::trunc);
    out << content;
    if (!out) throw std::runtime_error("could not write " + path.string());
}

std::string readTextFile(const fs::path& path) {
    std::ifstream in(path, std::ios::binary);
    EXPECT_TRUE(in.good()) << "cannot read " << path;
    std::ostringstream content;
    content << in.rdbuf();
    return content.str();
}

unsigned permissionBits(const fs::path& path) {
    struct stat info {};
    if (::stat(path.c_str(), &info) != 0) return ~0u;
    return static_cast<unsigned>(info.st_mode & 07777);
}

int runSubjectToFilePermissions(const std::function<int()>& body) {
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

void makeReadableByEveryone(const fs::path& path) {
    using fs::perms;
    const auto add = [](const fs::path& entry) {
        fs::permissions(entry,
                        fs::is_directory(entry) ? perms::group_read | perms::group_exec |
                                                      perms::others_read | perms::others_exec
                                                : perms::group_read | perms::others_read,
                        fs::perm_options::add);
    };
    add(path);
    if (fs::is_directory(path)) {
        for (const auto& entry : fs::recursive_directory_iterator(path)) add(entry.path());
    }
}

}  // namespace velopad::testing
