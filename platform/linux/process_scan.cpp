#include "platform/linux/process_scan.h"

#include <dirent.h>
#include <fcntl.h>
#include <limits.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <array>
#include <charconv>
#include <cstdio>
#include <fstream>
#include <iterator>
#include <system_error>

namespace velopad {
namespace {

namespace fs = std::filesystem;

std::string readSmallFile(const fs::path& path, std::size_t limit = 64 * 1024) {
    std::ifstream in(path, std::ios::binary);
    if (!in) return {};
    std::string text(limit, '\0');
    in.read(text.data(), static_cast<std::streamsize>(limit));
    text.resize(static_cast<std::size_t>(in.gcount()));
    return text;
}

std::optional<pid_t> parsePid(const std::string& name) {
    pid_t pid = 0;
    const auto* end = name.data() + name.size();
    const auto [next, error] = std::from_chars(name.data(), end, pid);
    if (error != std::errc() || next != end || pid <= 0) return std::nullopt;
    return pid;
}

// State letter of /proc/<pid>/stat; the command name may itself hold spaces and ")".
bool isZombie(const fs::path& processDir) {
    const std::string stat = readSmallFile(processDir / "stat", 4096);
    const auto close = stat.rfind(')');
    if (close == std::string::npos || close + 2 >= stat.size()) return false;
    const char state = stat[close + 2];
    return state == 'Z' || state == 'X';
}

std::vector<std::string> cgroupUnits(const fs::path& processDir) {
    std::vector<std::string> units;
    const std::string text = readSmallFile(processDir / "cgroup");
    std::size_t start = 0;
    while (start < text.size()) {
        auto end = text.find('\n', start);
        if (end == std::string::npos) end = text.size();
        const std::string_view line(text.data() + start, end - start);
        const auto slash = line.rfind('/');
        if (slash != std::string_view::npos && slash + 1 < line.size()) {
            std::string unit(line.substr(slash + 1));
            if (std::find(units.begin(), units.end(), unit) == units.end()) {
                units.push_back(std::move(unit));
            }
        }
        start = end + 1;
    }
    return units;
}

std::optional<fs::path> executableOf(const fs::path& processDir) {
    std::error_code error;
    std::string target = fs::read_symlink(processDir / "exe", error).string();
    if (error || target.empty()) return std::nullopt;
    constexpr std::string_view deleted = " (deleted)";
    if (target.ends_with(deleted)) target.resize(target.size() - deleted.size());
    return fs::path(target);
}

// argv[0] and argv[1] where they are absolute paths of files other than the process's own
// program, resolved to canonical paths (a script run by its interpreter shows up this way).
std::vector<fs::path> scriptPaths(const fs::path& processDir,
                                  const std::optional<fs::path>& executable) {
    const std::string cmdline = readSmallFile(processDir / "cmdline", 8192);
    std::vector<fs::path> paths;
    std::size_t start = 0;
    for (int index = 0; index < 2 && start < cmdline.size(); ++index) {
        auto end = cmdline.find('\0', start);
        if (end == std::string::npos) end = cmdline.size();
        const fs::path argument(cmdline.substr(start, end - start));
        start = end + 1;
        if (!argument.is_absolute() || argument == executable) continue;
        std::error_code error;
        auto resolved = fs::canonical(argument, error);
        if (!error && resolved != executable) paths.push_back(std::move(resolved));
    }
    return paths;
}

// "name=" in the "[Application]" group of a Flatpak sandbox's /.flatpak-info key file.
std::optional<std::string> flatpakApplicationId(const fs::path& processDir) {
    const std::string text = readSmallFile(processDir / "root" / ".flatpak-info", 16 * 1024);
    bool inApplication = false;
    std::size_t start = 0;
    while (start < text.size()) {
        auto end = text.find('\n', start);
        if (end == std::string::npos) end = text.size();
        std::string_view line(text.data() + start, end - start);
        start = end + 1;
        if (line.starts_with('[')) {
            inApplication = line == "[Application]";
        } else if (inApplication && line.starts_with("name=")) {
            line.remove_prefix(5);
            if (!line.empty()) return std::string(line);
        }
    }
    return std::nullopt;
}

std::string systemdEscaped(std::string_view id) {
    std::string escaped;
    for (const char c : id) {
        if (c == '-') {
            escaped += "\\x2d";
        } else {
            escaped += c;
        }
    }
    return escaped;
}

// What follows "app-": "<id>" or "<launcher>-<id>", where the launcher holds no "-".
bool bodyNamesApplication(std::string_view body, std::string_view id) {
    if (body == id) return true;
    if (body.size() <= id.size() + 1 || !body.ends_with(id)) return false;
    const std::string_view launcher = body.substr(0, body.size() - id.size() - 1);
    return body[launcher.size()] == '-' && !launcher.empty() &&
           launcher.find('-') == std::string_view::npos;
}

struct StatLine {
    bool zombie = false;
    unsigned long long startTime = 0;  // 0 when the line does not say
};

StatLine parseStat(std::string_view stat) {
    StatLine line;
    const auto close = stat.rfind(')');
    if (close == std::string_view::npos || close + 2 >= stat.size()) return line;
    line.zombie = stat[close + 2] == 'Z' || stat[close + 2] == 'X';
    // Fields after the command: state is the 3rd field of the line, the start time the 22nd.
    std::size_t position = close + 2;
    for (int field = 3; field < 22 && position != std::string_view::npos; ++field) {
        position = stat.find(' ', position);
        if (position != std::string_view::npos) ++position;
    }
    if (position == std::string_view::npos) return line;
    const auto* end = stat.data() + stat.size();
    std::from_chars(stat.data() + position, end, line.startTime);
    return line;
}

}  // namespace

ProcessScanner::ProcessScanner(fs::path procRoot, uid_t uid)
    : procRoot_(std::move(procRoot)), uid_(uid) {}

std::vector<ProcessInfo> ProcessScanner::scan() {
    std::vector<ProcessInfo> processes;
    for (auto& [pid, known] : known_) known.seen = false;
    DIR* dir = ::opendir(procRoot_.c_str());
    if (!dir) {
        known_.clear();
        return processes;
    }
    const int rootFd = ::dirfd(dir);
    char buffer[512];
    char link[PATH_MAX];
    char name[sizeof(dirent::d_name) + 8];  // "<pid>/stat"
    const bool recheck = ++passCount_ % 10 == 0;
    while (const dirent* item = ::readdir(dir)) {
        if (item->d_name[0] < '1' || item->d_name[0] > '9') continue;
        const auto pid = parsePid(item->d_name);
        if (!pid) continue;
        if (const auto it = known_.find(*pid); it != known_.end() && !recheck &&
                                               it->second.passes >= 3 &&
                                               it->second.inode == item->d_ino) {
            it->second.seen = true;
            processes.push_back(it->second.info);
            continue;
        }
        struct stat status {};
        if (::fstatat(rootFd, item->d_name, &status, 0) != 0 || status.st_uid != uid_) continue;
        std::snprintf(name, sizeof name, "%s/exe", item->d_name);
        const ssize_t linkSize = ::readlinkat(rootFd, name, link, sizeof link);
        const std::string_view exeLink(link, linkSize > 0 ? static_cast<std::size_t>(linkSize) : 0);
        Known& known = known_[*pid];
        // A process seen for a while that still runs the same program is the same process.
        bool same = known.passes >= 3 && linkSize > 0 && known.exeLink == exeLink;
        if (!same) {
            std::snprintf(name, sizeof name, "%s/stat", item->d_name);
            const int statFd = ::openat(rootFd, name, O_RDONLY | O_CLOEXEC);
            const ssize_t count = statFd >= 0 ? ::read(statFd, buffer, sizeof buffer) : -1;
            if (statFd >= 0) ::close(statFd);
            const StatLine stat =
                count > 0 ? parseStat(std::string_view(buffer, static_cast<std::size_t>(count)))
                          : StatLine{true, 0};
            if (stat.zombie) {
                known_.erase(*pid);
                continue;
            }
            same = known.passes > 0 && stat.startTime != 0 && known.startTime == stat.startTime &&
                   known.exeLink == exeLink;
            if (!same) {
                const fs::path processDir = procRoot_ / item->d_name;
                known = Known{stat.startTime, std::string(exeLink), {}, 0, false};
                known.info.pid = *pid;
                known.info.executable = executableOf(processDir);
                known.info.scriptPaths = scriptPaths(processDir, known.info.executable);
                known.info.flatpakApplicationId = flatpakApplicationId(processDir);
            }
        }
        known.inode = status.st_ino;
        if (known.passes < 3) known.info.cgroupUnits = cgroupUnits(procRoot_ / item->d_name);
        ++known.passes;
        known.seen = true;
        processes.push_back(known.info);
    }
    ::closedir(dir);
    std::erase_if(known_, [](const auto& item) { return !item.second.seen; });
    std::sort(processes.begin(), processes.end(),
              [](const ProcessInfo& a, const ProcessInfo& b) { return a.pid < b.pid; });
    return processes;
}

std::vector<ProcessInfo> scanProcesses(const fs::path& procRoot, uid_t uid) {
    std::vector<ProcessInfo> processes;
    std::error_code error;
    for (fs::directory_iterator it(procRoot, error), end; !error && it != end;
         it.increment(error)) {
        const auto pid = parsePid(it->path().filename().string());
        if (!pid) continue;
        struct stat status {};
        if (::stat(it->path().c_str(), &status) != 0 || status.st_uid != uid) continue;
        if (isZombie(it->path())) continue;

        ProcessInfo process;
        process.pid = *pid;
        process.cgroupUnits = cgroupUnits(it->path());
        process.executable = executableOf(it->path());
        process.scriptPaths = scriptPaths(it->path(), process.executable);
        process.flatpakApplicationId = flatpakApplicationId(it->path());
        processes.push_back(std::move(process));
    }
    std::sort(processes.begin(), processes.end(),
              [](const ProcessInfo& a, const ProcessInfo& b) { return a.pid < b.pid; });
    return processes;
}

namespace {

// Snap applications run in "snap.<snap>.<app>-<uuid>.scope" (or a ".service" of that name);
// their desktop-file ID is "<snap>_<app>".
bool snapUnitNamesApplication(std::string_view unit, std::string_view applicationId) {
    const auto underscore = applicationId.find('_');
    if (underscore == std::string_view::npos || !unit.starts_with("snap.")) return false;
    const std::string prefix = "snap." + std::string(applicationId.substr(0, underscore)) + "." +
                               std::string(applicationId.substr(underscore + 1));
    if (!unit.starts_with(prefix)) return false;
    const std::string_view rest = unit.substr(prefix.size());
    return rest == ".service" || (rest.starts_with("-") && rest.ends_with(".scope") &&
                                  rest.size() > std::string_view("-.scope").size());
}

}  // namespace

bool unitNamesApplication(std::string_view unit, std::string_view applicationId) {
    if (snapUnitNamesApplication(unit, applicationId)) return true;
    if (applicationId.empty() || !unit.starts_with("app-")) return false;
    std::string_view body = unit.substr(4);
    if (body.ends_with(".scope")) {
        body.remove_suffix(6);
        const auto dash = body.rfind('-');  // "-<random>"
        if (dash == std::string_view::npos || dash + 1 == body.size()) return false;
        body = body.substr(0, dash);
    } else if (body.ends_with(".service")) {
        body.remove_suffix(8);
        if (const auto at = body.find('@'); at != std::string_view::npos) body = body.substr(0, at);
    } else {
        return false;
    }
    if (bodyNamesApplication(body, applicationId)) return true;
    return applicationId.find('-') != std::string_view::npos &&
           bodyNamesApplication(body, systemdEscaped(applicationId));
}

bool isGenericLauncher(const fs::path& executable) {
    static constexpr std::array<std::string_view, 24> launchers = {
        "env",  "sh",      "bash", "dash", "zsh",      "fish",   "ksh",      "csh",
        "tcsh", "flatpak", "snap", "sudo", "pkexec",   "python", "python3",  "perl",
        "ruby", "java",    "node", "gjs",  "xdg-open", "gio",    "exo-open", "busybox"};
    std::string_view name = executable.native();
    if (const auto slash = name.rfind('/'); slash != std::string_view::npos) {
        name.remove_prefix(slash + 1);
    }
    if (std::find(launchers.begin(), launchers.end(), name) != launchers.end()) return true;
    return name.starts_with("python") || name.starts_with("perl");
}

bool processBelongsTo(const ProcessInfo& process, const ApplicationProcessQuery& query) {
    const std::string& id = query.applicationId;
    if (process.flatpakApplicationId == id) return true;
    for (const auto& unit : process.cgroupUnits) {
        if (unitNamesApplication(unit, id)) return true;
    }
    if (!query.executable || isGenericLauncher(*query.executable)) return false;
    // Canonical paths on both sides: comparing their texts is enough (and much cheaper).
    const std::string& wanted = query.executable->native();
    if (process.executable && process.executable->native() == wanted) return true;
    return std::any_of(process.scriptPaths.begin(), process.scriptPaths.end(),
                       [&wanted](const fs::path& script) { return script.native() == wanted; });
}

std::vector<pid_t> applicationProcesses(const std::vector<ProcessInfo>& processes,
                                        const ApplicationProcessQuery& query) {
    std::vector<pid_t> pids;
    for (const auto& process : processes) {
        if (processBelongsTo(process, query)) pids.push_back(process.pid);
    }
    return pids;
}

}  // namespace velopad
