#include "tests/support/sandbox_fixture.h"

#include <grp.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cerrno>
#include <cstdlib>
#include <fstream>
#include <sstream>
#include <stdexcept>
#include <vector>

namespace velopad::testing {

Sandbox::Sandbox() {
    std::string pattern = (std::filesystem::temp_directory_path() / "velopad-test-XXXXXX").string();
    std::vector<char> name(pattern.begin(), pattern.end());
    name.push_back('\0');
    if (::mkdtemp(name.data()) == nullptr) throw std::runtime_error("mkdtemp failed");
    root_ = name.data();

    for (const auto& dir : {home(), dataHome(), configHome(), cacheHome(), runtimeDir()}) {
        std::filesystem::create_directories(dir);
    }
    std::filesystem::permissions(runtimeDir(), std::filesystem::perms::owner_all);

    setEnv("HOME", home().string());
    setEnv("XDG_DATA_HOME", dataHome().string());
    setEnv("XDG_CONFIG_HOME", configHome().string());
    setEnv("XDG_CACHE_HOME", cacheHome().string());
    setEnv("XDG_RUNTIME_DIR", runtimeDir().string());
}

Sandbox::~Sandbox() {
    for (const auto& [name, value] : saved_) {
        if (value) {
            ::setenv(name.c_str(), value->c_str(), 1);
        } else {
            ::unsetenv(name.c_str());
        }
    }
    // Tests may leave read-only directories behind; make everything removable first.
    std::error_code error;
    for (auto it = std::filesystem::recursive_directory_iterator(
             root_, std::filesystem::directory_options::skip_permission_denied, error);
         !error && it != std::filesystem::recursive_directory_iterator(); it.increment(error)) {
        if (it->is_directory(error)) {
            std::filesystem::permissions(it->path(), std::filesystem::perms::owner_all,
                                         std::filesystem::perm_options::add, error);
        }
    }
    std::filesystem::permissions(root_, std::filesystem::perms::owner_all,
                                 std::filesystem::perm_options::add, error);
    std::filesystem::remove_all(root_, error);
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

void writeTextFile(const std::filesystem::path& path, const std::string& content) {
    if (path.has_parent_path()) std::filesystem::create_directories(path.parent_path());
    std::ofstream out(path, std::ios::binary | std::ios::trunc);
    out << content;
    if (!out) throw std::runtime_error("could not write " + path.string());
}

std::string readTextFile(const std::filesystem::path& path) {
    std::ifstream in(path, std::ios::binary);
    EXPECT_TRUE(in.good()) << "cannot read " << path;
    std::ostringstream content;
    content << in.rdbuf();
    return content.str();
}

unsigned permissionBits(const std::filesystem::path& path) {
    struct stat info {};
    if (::stat(path.c_str(), &info) != 0) return ~0u;
    return static_cast<unsigned>(info.st_mode & 07777);
}

int runSubjectToFilePermissions(const std::function<int()>& body) {
    const pid_t pid = ::fork();
    if (pid < 0) throw std::runtime_error("fork failed");
    if (pid == 0) {
        int status = 99;
        if (::geteuid() == 0) {
            constexpr uid_t nobody = 65534;
            if (::setgroups(0, nullptr) != 0 || ::setgid(nobody) != 0 || ::setuid(nobody) != 0) {
                ::_exit(98);
            }
        }
        try {
            status = body();
        } catch (...) {
            status = 99;
        }
        ::_exit(status);
    }
    int status = 0;
    while (::waitpid(pid, &status, 0) < 0) {
        if (errno != EINTR) return -1;
    }
    return WIFEXITED(status) ? WEXITSTATUS(status) : -1;
}

void makeReadableByEveryone(const std::filesystem::path& path) {
    using std::filesystem::perms;
    const perms directoryBits =
        perms::group_read | perms::group_exec | perms::others_read | perms::others_exec;
    const perms fileBits = perms::group_read | perms::others_read;
    const bool isDirectory = std::filesystem::is_directory(path);
    std::filesystem::permissions(path, isDirectory ? directoryBits : fileBits,
                                 std::filesystem::perm_options::add);
    if (!isDirectory) return;
    for (const auto& entry : std::filesystem::recursive_directory_iterator(path)) {
        std::filesystem::permissions(entry.path(), entry.is_directory() ? directoryBits : fileBits,
                                     std::filesystem::perm_options::add);
    }
}

}  // namespace velopad::testing
