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

constexpr std::size_t maxKeptArguments = 4096;

std::string commandLine(const fs::path& processDir) {
    return readSmallFile(processDir / "cmdline", 8192);
}

// argv[0] and argv[1] where they are absolute paths of files other than the process's own
// program, resolved to canonical paths (a script run by its interpreter shows up this way).
std::vector<fs::path> scriptPaths(const std::string& cmdline,
                                  const std::optional<fs::path>& executable) {
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

// Everything after argv[0], whole arguments only, up to maxKeptArguments bytes.
std::string argumentsOf(const std::string& cmdline) {
    const auto first = cmdline.find('\0');
    if (first == std::string::npos || first + 1 >= cmdline.size()) return {};
    std::string arguments = cmdline.substr(first + 1);
    if (arguments.back() != '\0') arguments += '\0';
    if (arguments.size() > maxKeptArguments) {
        arguments.resize(arguments.rfind('\0', maxKeptArguments - 1) + 1);
    }
    return arguments;
}

// False when the process was caught inside an exec: its new program shows already, its command
// line not yet (it reads as empty), so it has to be read again.
bool readProgram(const fs::path& processDir, ProcessInfo& process) {
    const std::string cmdline = commandLine(processDir);
    process.executable = executableOf(processDir);
    process.scriptPaths = scriptPaths(cmdline, process.executable);
    process.arguments = argumentsOf(cmdline);
    return !cmdline.empty() || !process.executable;
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
                if (!readProgram(processDir, known.info)) known.exeLink.clear();
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
        readProgram(it->path(), process);
        process.flatpakApplicationId = flatpakApplicationId(it->path());
        processes.push_back(std::move(process));
    }
    std::sort(processes.begin(), processes.end(),
              [](const ProcessInfo& a, const ProcessInfo& b) { return a.pid < b.pid; });
    return processes;
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

namespace {

// Whether `wanted` appear among the NUL-ended `arguments` in this order (others may come
// between: wrappers add options of their own, and the desktop adds files and URLs).
bool startedWith(std::string_view arguments, const std::vector<std::string>& wanted) {
    auto next = wanted.begin();
    while (next != wanted.end() && !arguments.empty()) {
        const auto end = arguments.find('\0');
        if (arguments.substr(0, end) == *next) ++next;
        if (end == std::string_view::npos) break;
        arguments.remove_prefix(end + 1);
    }
    return next == wanted.end();
}

}  // namespace

ApplicationMatcher::ApplicationMatcher(std::vector<ApplicationProcessQuery> queries)
    : queries_(std::move(queries)) {
    for (std::size_t index = 0; index < queries_.size(); ++index) {
        const auto& query = queries_[index];
        byId_.emplace(query.applicationId, index);
        if (query.executable && !isGenericLauncher(*query.executable)) {
            // Canonical paths on both sides: comparing their texts is enough.
            byProgram_[query.executable->native()].push_back(index);
        }
    }
}

std::vector<std::size_t> ApplicationMatcher::owners(const ProcessInfo& process) const {
    std::vector<std::size_t> found;
    const auto addId = [&](const std::string& id) {
        const auto [first, last] = byId_.equal_range(id);
        for (auto it = first; it != last; ++it) found.push_back(it->second);
    };
    if (process.flatpakApplicationId) addId(*process.flatpakApplicationId);
    for (const auto& unit : process.cgroupUnits) {
        for (const auto& id : applicationIdsOfUnit(unit)) addId(id);
    }
    const std::size_t byScope = found.size();

    const auto addProgram = [&](const fs::path& program) {
        const auto group = byProgram_.find(program.native());
        if (group == byProgram_.end()) return;
        const auto& members = group->second;
        // A scope or sandbox already said which of the program's applications this is.
        for (std::size_t at = 0; at < byScope; ++at) {
            if (std::find(members.begin(), members.end(), found[at]) != members.end()) return;
        }
        if (members.size() == 1) {
            found.push_back(members.front());
            return;
        }
        std::optional<std::size_t> specificity;
        for (const std::size_t member : members) {
            const auto& wanted = queries_[member].arguments;
            if (specificity && wanted.size() < *specificity) continue;
            if (!startedWith(process.arguments, wanted)) continue;
            if (!specificity || wanted.size() > *specificity) {
                std::erase_if(found, [&](std::size_t index) {
                    return std::find(members.begin(), members.end(), index) != members.end();
                });
                specificity = wanted.size();
            }
            found.push_back(member);
        }
    };
    if (process.executable) addProgram(*process.executable);
    for (const auto& script : process.scriptPaths) addProgram(script);

    std::sort(found.begin(), found.end());
    found.erase(std::unique(found.begin(), found.end()), found.end());
    return found;
}

std::vector<std::vector<pid_t>> applicationProcesses(const std::vector<ProcessInfo>& processes,
                                                     std::vector<ApplicationProcessQuery> queries) {
    std::vector<std::vector<pid_t>> pids(queries.size());
    const ApplicationMatcher matcher(std::move(queries));
    for (const auto& process : processes) {
        for (const std::size_t owner : matcher.owners(process)) pids[owner].push_back(process.pid);
    }
    return pids;
}

std::vector<pid_t> applicationProcesses(const std::vector<ProcessInfo>& processes,
                                        const ApplicationProcessQuery& query) {
    return applicationProcesses(processes, std::vector<ApplicationProcessQuery>{query}).front();
}

}  // namespace velopad
