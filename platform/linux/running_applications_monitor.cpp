#include "platform/linux/running_applications_monitor.h"

#include <fcntl.h>
#include <poll.h>
#include <sys/eventfd.h>
#include <sys/inotify.h>
#include <sys/stat.h>
#include <sys/syscall.h>
#include <unistd.h>

#include <algorithm>
#include <atomic>
#include <cstdlib>
#include <cstring>
#include <map>
#include <mutex>
#include <set>
#include <thread>
#include <unordered_map>

#include "platform/linux/process_scan.h"

namespace velopad {
namespace {

namespace fs = std::filesystem;
using Clock = std::chrono::steady_clock;

constexpr std::size_t maxWatchedIds = 512;
constexpr std::size_t maxPidfds = 256;
constexpr std::size_t maxCgroupWatches = 4096;
// A scope's directory appears just before its first process is moved into it.
constexpr auto settleAfterEvent = std::chrono::milliseconds(30);
constexpr auto minimumBetweenEventPasses = std::chrono::milliseconds(100);
// Entries are read again when their folders change, and at least this often besides.
constexpr int passesBetweenEntryReads = 10;

fs::path defaultCgroupTree(uid_t uid) {
    const std::string user = std::to_string(uid);
    return fs::path("/sys/fs/cgroup/user.slice") / ("user-" + user + ".slice") /
           ("user@" + user + ".service");
}

// The folders desktop entries are listed from. Installing, removing or rewriting an entry (by
// renaming a new file into place, as package managers and editors do) changes their times.
std::vector<fs::path> applicationFolders() {
    std::vector<fs::path> folders;
    const char* home = std::getenv("HOME");
    const char* dataHome = std::getenv("XDG_DATA_HOME");
    if (dataHome && *dataHome) {
        folders.push_back(fs::path(dataHome) / "applications");
    } else if (home && *home) {
        folders.push_back(fs::path(home) / ".local/share/applications");
    }
    const char* dataDirs = std::getenv("XDG_DATA_DIRS");
    std::string_view dirs = dataDirs && *dataDirs ? dataDirs : "/usr/local/share:/usr/share";
    while (!dirs.empty()) {
        const auto colon = dirs.find(':');
        const auto dir = dirs.substr(0, colon);
        if (!dir.empty()) folders.push_back(fs::path(dir) / "applications");
        dirs = colon == std::string_view::npos ? std::string_view() : dirs.substr(colon + 1);
    }
    return folders;
}

std::vector<std::int64_t> folderTimes(const std::vector<fs::path>& folders) {
    std::vector<std::int64_t> times;
    for (const auto& folder : folders) {
        struct stat status {};
        times.push_back(::stat(folder.c_str(), &status) == 0
                            ? status.st_mtim.tv_sec * 1'000'000'000LL + status.st_mtim.tv_nsec
                            : -1);
    }
    return times;
}

// Whether two readings of an ID's entry answer alike where it is installed and what it runs.
bool sameListing(const std::shared_ptr<const DesktopEntry>& a,
                 const std::shared_ptr<const DesktopEntry>& b) {
    if (!a || !b) return !a && !b;
    return a->file == b->file && a->executable == b->executable && a->arguments == b->arguments;
}

// The last process ID handed out (the fifth field of "loadavg"); it moves whenever a process
// is started. Nothing when it cannot be read.
std::optional<long> lastStartedPid(const fs::path& procRoot) {
    const int fd = ::open((procRoot / "loadavg").c_str(), O_RDONLY | O_CLOEXEC);
    if (fd < 0) return std::nullopt;
    char text[128];
    const ssize_t size = ::read(fd, text, sizeof text - 1);
    ::close(fd);
    if (size <= 0) return std::nullopt;
    text[size] = '\0';
    const char* last = std::strrchr(text, ' ');
    if (!last) return std::nullopt;
    char* end = nullptr;
    const long pid = std::strtol(last + 1, &end, 10);
    return end != last + 1 ? std::optional<long>(pid) : std::nullopt;
}

// A process started just now may still exec its real program (wrapper scripts do): passes go on
// at the full rate this long after the last start.
constexpr auto execSettling = std::chrono::seconds(3);

int openPidfd(pid_t pid) {
#ifdef SYS_pidfd_open
    return static_cast<int>(::syscall(SYS_pidfd_open, pid, 0));
#else
    (void)pid;
    return -1;
#endif
}

// Watches `directory` and the directories below it (a user's cgroup tree is small).
void watchTree(int inotifyFd, const fs::path& directory, std::map<int, fs::path>& watches) {
    constexpr auto mask = IN_CREATE | IN_DELETE | IN_MODIFY | IN_MOVED_FROM | IN_MOVED_TO |
                          IN_ONLYDIR | IN_DONT_FOLLOW;
    if (watches.size() >= maxCgroupWatches) return;
    const int watch = ::inotify_add_watch(inotifyFd, directory.c_str(), mask);
    if (watch < 0) return;
    watches[watch] = directory;
    std::error_code error;
    for (fs::directory_iterator it(directory, error), end; !error && it != end;
         it.increment(error)) {
        if (it->is_directory(error) && !it->is_symlink(error)) {
            watchTree(inotifyFd, it->path(), watches);
        }
    }
}

struct Watched {
    std::shared_ptr<const DesktopEntry> entry;
    std::vector<pid_t> pids;
    Clock::time_point asked;
    bool lookedUp = false;  // `entry` says what is listed
};

}  // namespace

struct RunningApplicationsMonitor::State {
    explicit State(RunningApplicationsOptions options)
        : options(std::move(options)), scanner(this->options.procRoot, this->options.uid) {}

    const RunningApplicationsOptions options;

    // Held for a whole pass; passes run on the monitor thread or on a caller's worker.
    std::mutex passMutex;
    ProcessScanner scanner;              // under passMutex
    std::vector<ProcessInfo> processes;  // under passMutex: the last pass's
    Clock::time_point processesRead;     // under passMutex
    const std::vector<fs::path> folders = applicationFolders();
    std::vector<std::int64_t> foldersSeen;  // under passMutex: their times at the last reading
    int passesSinceEntries = 0;             // under passMutex

    std::mutex mutex;  // guards what follows
    std::unordered_map<std::string, Watched> watched;
    bool currentView = false;  // a pass ran since the view was last given up or invalidated
    Clock::time_point lastQuestion;
    Clock::time_point lastPass;
    std::set<pid_t> reported;   // processes of watched applications, for pidfds
    std::uint64_t version = 0;  // grows whenever what the view says about a watched ID changes

    std::atomic<bool> stopping{false};
    int wakeFd = -1;

    // The user's cgroup tree, watched from the first question on so that no scope that fills
    // after an answer goes unnoticed.
    std::mutex watchMutex;
    int inotifyFd = -1;
    std::map<int, fs::path> watches;  // under watchMutex
    bool treeWatched = false;         // under watchMutex

    void watchCgroupTree() {
        std::lock_guard lock(watchMutex);
        if (treeWatched || inotifyFd < 0) return;
        watchTree(inotifyFd, options.cgroupTree.value_or(defaultCgroupTree(options.uid)), watches);
        treeWatched = true;
    }

    bool active(Clock::time_point now) const { return now - lastQuestion < options.activeFor; }

    // Records a question asked at `now` and wakes the watcher if it had gone idle; whether it
    // was still active before. Called with the mutex held.
    bool noteQuestion(Clock::time_point now) {
        const bool wasActive = active(now);
        lastQuestion = now;
        if (!wasActive) wake();
        return wasActive;
    }

    void wake() const {
        const std::uint64_t one = 1;
        [[maybe_unused]] const auto written = ::write(wakeFd, &one, sizeof one);
    }

    static ApplicationProcessQuery queryFor(const std::string& id, const Watched& watched) {
        if (!watched.entry) return {id, std::nullopt, {}};
        return {id, watched.entry->executable, watched.entry->arguments};
    }

    // Reads /proc (when the last reading is older than `fresh`) and the entries of the watched
    // IDs (all when `entries`, else only those not yet looked up), then matches them.
    void pass(bool entries, Clock::duration fresh) {
        std::lock_guard passLock(passMutex);
        const auto now = Clock::now();
        auto times = folderTimes(folders);
        if (times != foldersSeen || ++passesSinceEntries >= passesBetweenEntryReads) {
            entries = true;
        }
        if (entries) {
            foldersSeen = std::move(times);
            passesSinceEntries = 0;
        }
        std::vector<std::pair<std::string, bool>> ids;  // and whether its entry is needed
        {
            std::lock_guard lock(mutex);
            std::erase_if(watched, [&](const auto& item) {
                return now - item.second.asked > 2 * options.activeFor;
            });
            for (const auto& [id, state] : watched) {
                ids.emplace_back(id, entries || !state.lookedUp);
            }
        }
        std::map<std::string, std::shared_ptr<const DesktopEntry>> found;
        for (const auto& [id, needed] : ids) {
            if (!needed) continue;
            auto entry = findDesktopEntry(id);
            found[id] = entry ? std::make_shared<const DesktopEntry>(std::move(*entry)) : nullptr;
        }
        if (processes.empty() || now - processesRead >= fresh) {
            processes = scanner.scan();
            processesRead = now;
        }

        std::lock_guard lock(mutex);
        reported.clear();
        bool changed = false;
        // All at once: applications sharing one program are told apart among each other.
        std::vector<ApplicationProcessQuery> queries;
        for (auto& [id, state] : watched) {
            if (auto it = found.find(id); it != found.end()) {
                changed = changed || !state.lookedUp || !sameListing(state.entry, it->second);
                state.entry = std::move(it->second);
                state.lookedUp = true;
            }
            if (isAcceptableDesktopId(id)) queries.push_back(queryFor(id, state));
        }
        auto pids = applicationProcesses(processes, queries);
        for (std::size_t index = 0; index < queries.size(); ++index) {
            auto& state = watched[queries[index].applicationId];
            changed = changed || pids[index] != state.pids;
            state.pids = std::move(pids[index]);
            for (const pid_t pid : state.pids) {
                if (reported.size() < maxPidfds) reported.insert(pid);
            }
        }
        for (auto& [id, state] : watched) {
            if (!isAcceptableDesktopId(id)) state.pids.clear();
        }
        if (changed) ++version;
        currentView = true;
        if (fresh == Clock::duration::zero()) lastPass = now;
    }

    void run();
};

void RunningApplicationsMonitor::State::run() {
    std::map<pid_t, int> pidfds;
    std::set<pid_t> exited;  // whose pidfd fired: not followed again before the next pass
    Clock::time_point eventPassAt = Clock::time_point::max();
    Clock::time_point lastEventPass;
    std::optional<long> startedPid;
    Clock::time_point lastStart;  // when `startedPid` last moved
    Clock::time_point lastFullRatePass;

    while (!stopping) {
        auto now = Clock::now();
        int timeout = -1;
        {
            std::lock_guard lock(mutex);
            if (active(now)) {
                auto due = std::min(lastPass + options.period, eventPassAt);
                if (lastPass == Clock::time_point{}) due = now;
                timeout = static_cast<int>(std::max<long long>(
                    0, std::chrono::ceil<std::chrono::milliseconds>(due - now).count()));
            }
            // Follow the processes last reported, and only them.
            for (auto it = pidfds.begin(); it != pidfds.end();) {
                if (reported.contains(it->first) && timeout >= 0) {
                    ++it;
                } else {
                    ::close(it->second);
                    it = pidfds.erase(it);
                }
            }
            if (timeout >= 0) {
                for (const pid_t pid : reported) {
                    if (pidfds.contains(pid) || exited.contains(pid)) continue;
                    if (const int fd = openPidfd(pid); fd >= 0) pidfds[pid] = fd;
                }
            }
        }
        if (timeout >= 0) watchCgroupTree();

        std::vector<pollfd> fds{{wakeFd, POLLIN, 0}};
        if (inotifyFd >= 0) fds.push_back({inotifyFd, POLLIN, 0});
        for (const auto& [pid, fd] : pidfds) fds.push_back({fd, POLLIN, 0});
        if (::poll(fds.data(), fds.size(), timeout) < 0 && errno != EINTR) break;
        if (stopping) break;

        bool changed = false;
        if (fds[0].revents & POLLIN) {
            std::uint64_t count = 0;
            [[maybe_unused]] const auto read = ::read(wakeFd, &count, sizeof count);
        }
        if (inotifyFd >= 0 && (fds[1].revents & POLLIN)) {
            alignas(inotify_event) char buffer[4096];
            ssize_t size = 0;
            std::lock_guard lock(watchMutex);
            while ((size = ::read(inotifyFd, buffer, sizeof buffer)) > 0) {
                for (char* at = buffer; at < buffer + size;) {
                    const auto* event = reinterpret_cast<const inotify_event*>(at);
                    at += sizeof(inotify_event) + event->len;
                    changed = true;
                    if (event->mask & IN_IGNORED) {
                        watches.erase(event->wd);
                    } else if ((event->mask & IN_CREATE) && (event->mask & IN_ISDIR) &&
                               event->len > 0) {
                        if (auto it = watches.find(event->wd); it != watches.end()) {
                            watchTree(inotifyFd, it->second / event->name, watches);
                        }
                    }
                }
            }
        }
        std::size_t index = inotifyFd >= 0 ? 2 : 1;
        for (auto it = pidfds.begin(); it != pidfds.end(); ++index) {
            if (!fds[index].revents) {
                ++it;
                continue;
            }
            // An exited process stays readable until it is reaped: polled again, it would spin.
            changed = true;
            exited.insert(it->first);
            {
                std::lock_guard lock(passMutex);
                scanner.forget(it->first);
            }
            ::close(it->second);
            it = pidfds.erase(it);
        }

        now = Clock::now();
        bool due = false;
        {
            std::lock_guard lock(mutex);
            if (!active(now)) {
                currentView = false;
                eventPassAt = Clock::time_point::max();
                continue;
            }
            if (changed) {
                eventPassAt = std::min(
                    eventPassAt,
                    std::max(now + settleAfterEvent, lastEventPass + minimumBetweenEventPasses));
            }
            due = now >= lastPass + options.period || now >= eventPassAt ||
                  lastPass == Clock::time_point{};
        }
        if (due) {
            const bool byEvent = now >= eventPassAt;
            if (byEvent) lastEventPass = now;
            eventPassAt = Clock::time_point::max();
            const auto started = lastStartedPid(options.procRoot);
            if (!started || started != startedPid) {
                startedPid = started;
                lastStart = now;
            }
            const bool quiet = !byEvent && now - lastStart > execSettling &&
                               now - lastFullRatePass < options.quietPeriod;
            if (quiet) {
                std::lock_guard lock(mutex);
                lastPass = now;  // nothing was started: the view stands
                continue;
            }
            lastFullRatePass = now;
            pass(false, Clock::duration::zero());
            exited.clear();
        }
    }
    for (const auto& [pid, fd] : pidfds) ::close(fd);
}

RunningApplicationsMonitor::RunningApplicationsMonitor(RunningApplicationsOptions options)
    : state_(std::make_shared<State>(std::move(options))) {
    state_->wakeFd = ::eventfd(0, EFD_CLOEXEC | EFD_NONBLOCK);
    state_->inotifyFd = ::inotify_init1(IN_NONBLOCK | IN_CLOEXEC);
    thread_ = std::thread([state = state_] { state->run(); });
}

RunningApplicationsMonitor::~RunningApplicationsMonitor() {
    state_->stopping = true;
    state_->wake();
    thread_.join();
    ::close(state_->wakeFd);
    if (state_->inotifyFd >= 0) ::close(state_->inotifyFd);
}

std::optional<ApplicationState> RunningApplicationsMonitor::current(const std::string& id) {
    auto& state = *state_;
    std::lock_guard lock(state.mutex);
    const auto now = Clock::now();
    const bool wasActive = state.noteQuestion(now);
    auto it = state.watched.find(id);
    if (it == state.watched.end()) {
        if (state.watched.size() >= maxWatchedIds) return std::nullopt;
        state.watched[id].asked = now;
        return std::nullopt;
    }
    it->second.asked = now;
    if (!state.currentView || !wasActive || !it->second.lookedUp) return std::nullopt;
    return ApplicationState{it->second.entry, it->second.pids};
}

ApplicationState RunningApplicationsMonitor::refresh(const std::string& id) {
    auto& state = *state_;
    bool current = false;
    {
        std::lock_guard lock(state.mutex);
        const auto now = Clock::now();
        current = state.currentView && state.active(now);
        state.lastQuestion = now;
        state.watched[id].asked = now;
    }
    state.watchCgroupTree();
    // A current view lacks at most this ID's entry; otherwise everything is read again.
    state.pass(!current, current ? Clock::duration(state.options.period) : Clock::duration::zero());
    state.wake();
    std::lock_guard lock(state.mutex);
    const auto it = state.watched.find(id);
    if (it == state.watched.end()) return {};
    return ApplicationState{it->second.entry, it->second.pids};
}

std::vector<std::string> RunningApplicationsMonitor::runningAmong(
    const std::vector<DesktopEntry>& entries) {
    auto& state = *state_;
    // A full listing is rare and reads every entry anyway: it reads /proc afresh too.
    std::lock_guard passLock(state.passMutex);
    state.processes = state.scanner.scan();
    state.processesRead = Clock::now();
    std::vector<ApplicationProcessQuery> queries;
    for (const auto& entry : entries) {
        queries.push_back({entry.id, entry.executable, entry.arguments});
    }
    const ApplicationMatcher matcher(std::move(queries));
    std::vector<std::string> ids;
    std::set<std::string> seen;
    for (const auto& process : state.processes) {
        for (const std::size_t owner : matcher.owners(process)) {
            if (seen.insert(entries[owner].id).second) ids.push_back(entries[owner].id);
        }
    }
    return ids;
}

std::optional<std::uint64_t> RunningApplicationsMonitor::currentVersion() {
    auto& state = *state_;
    std::lock_guard lock(state.mutex);
    const auto now = Clock::now();
    const bool wasActive = state.noteQuestion(now);
    // Whoever holds on to answers keyed by the version keeps asking about all of them.
    for (auto& [id, watched] : state.watched) watched.asked = now;
    if (!state.currentView || !wasActive) return std::nullopt;
    return state.version;
}

void RunningApplicationsMonitor::invalidate() {
    std::lock_guard lock(state_->mutex);
    state_->currentView = false;
    ++state_->version;
}

}  // namespace velopad
