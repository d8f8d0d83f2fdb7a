#include "platform/linux/proc_executable.h"

#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <charconv>
#include <fstream>
#include <sstream>
#include <system_error>

namespace velopad {
namespace {

std::optional<uid_t> realUserId(pid_t pid) {
    std::ifstream status("/proc/" + std::to_string(pid) + "/status");
    std::string line;
    while (std::getline(status, line)) {
        if (line.rfind("Uid:", 0) != 0) continue;
        std::istringstream fields(line.substr(4));
        unsigned long uid = 0;
        if (fields >> uid) return static_cast<uid_t>(uid);
        return std::nullopt;
    }
    return std::nullopt;
}

std::optional<pid_t> parsePid(const std::string& name) {
    pid_t pid = 0;
    const auto [end, error] = std::from_chars(name.data(), name.data() + name.size(), pid);
    if (error != std::errc() || end != name.data() + name.size() || pid <= 0) return std::nullopt;
    return pid;
}

}  // namespace

std::optional<ExecutableFile> executableFile(const std::filesystem::path& path) {
    struct stat info {};
    if (stat(path.c_str(), &info) != 0) return std::nullopt;
    std::error_code error;
    auto canonical = std::filesystem::canonical(path, error);
    return ExecutableFile{info.st_dev, info.st_ino, error ? std::string() : canonical.string()};
}

bool processRunsExecutable(pid_t pid, const ExecutableFile& file) {
    const std::string exe = "/proc/" + std::to_string(pid) + "/exe";
    struct stat info {};
    if (stat(exe.c_str(), &info) != 0) return false;  // gone, a zombie, or not ours to read
    bool same = info.st_dev == file.device && info.st_ino == file.inode;
    if (!same && !file.path.empty()) {
        std::error_code error;
        const auto target = std::filesystem::read_symlink(exe, error);
        same = !error && target.string() == file.path + " (deleted)";
    }
    return same && realUserId(pid) == getuid();
}

std::vector<pid_t> otherProcessesRunning(const ExecutableFile& file) {
    std::vector<pid_t> found;
    std::error_code error;
    for (std::filesystem::directory_iterator it("/proc", error), end; !error && it != end;
         it.increment(error)) {
        const auto pid = parsePid(it->path().filename().string());
        if (!pid || *pid == getpid()) continue;
        if (processRunsExecutable(*pid, file)) found.push_back(*pid);
    }
    std::sort(found.begin(), found.end());
    return found;
}

}  // namespace velopad
