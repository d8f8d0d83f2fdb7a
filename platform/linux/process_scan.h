#pragma once
// Finding the running instances of an application by reading /proc: a process of this user
// whose control group names the application (desktops start applications in systemd units such
// as "app-gnome-org.gnome.Nautilus-1234.scope"), a Flatpak instance of it, or a process running
// the application's own program.

#include <sys/types.h>

#include <filesystem>
#include <optional>
#include <string>
#include <string_view>
#include <unordered_map>
#include <vector>

#include "platform/linux/application_unit_name.h"

namespace velopad {

struct ProcessInfo {
    pid_t pid = 0;
    std::vector<std::string> cgroupUnits;  // last path element of each control group, each once
    std::optional<std::filesystem::path> executable;  // what /proc/<pid>/exe points to
    std::vector<std::filesystem::path> scriptPaths;   // other absolute argv[0]/argv[1], canonical
    std::optional<std::string> flatpakApplicationId;  // [Application] name= of .flatpak-info
    std::string arguments;  // argv[1], argv[2], … each ended by a NUL (the first 4 KiB of them)
};

// Live processes owned by `uid` (zombies left out), in ascending process ID order.
// `procRoot` is "/proc" except in tests.
std::vector<ProcessInfo> scanProcesses(const std::filesystem::path& procRoot, uid_t uid);

// scanProcesses that remembers what it read. A process seen for a few passes whose /proc
// directory is the same (the directory listing gives its inode) costs nothing beyond the
// listing; every tenth pass checks its owner and program again (an exec). New processes are read
// in full, and their control groups again while they are young (systemd moves a new process
// into its scope just after it starts). Not thread-safe.
class ProcessScanner {
  public:
    ProcessScanner(std::filesystem::path procRoot, uid_t uid);
    std::vector<ProcessInfo> scan();
    // Reads `pid` whole at the next scan (it exited: it may linger as a zombie).
    void forget(pid_t pid) { known_.erase(pid); }

  private:
    struct Known {
        unsigned long long startTime = 0;
        std::string exeLink;
        ProcessInfo info;
        int passes = 0;
        bool seen = false;
        ino_t inode = 0;  // of its /proc directory: a new process under a reused ID has another
    };
    std::filesystem::path procRoot_;
    uid_t uid_;
    unsigned passCount_ = 0;
    std::unordered_map<pid_t, Known> known_;
};

struct ApplicationProcessQuery {
    std::string applicationId;
    std::optional<std::filesystem::path> executable;  // canonical; nothing skips that test
    std::vector<std::string> arguments;  // what the entry passes its program (no field codes)
};

// Programs that start other programs (shells, interpreters, sandboxes): an entry whose Exec
// starts with one of these cannot be recognised by its program.
bool isGenericLauncher(const std::filesystem::path& executable);

// Which of a set of applications a process belongs to: those its control group or Flatpak
// sandbox names, and those whose program it runs. Applications that share one program (a
// browser and the web applications started through it) are told apart: a process that a scope
// or sandbox gives to one of them belongs to none of the others by program, and otherwise to the
// one whose arguments it was started with (the most specific; an entry without arguments gets
// only what no sibling claims). A program shared by no other query is enough on its own.
class ApplicationMatcher {
  public:
    explicit ApplicationMatcher(std::vector<ApplicationProcessQuery> queries);

    // The indices of the queries `process` belongs to, ascending.
    std::vector<std::size_t> owners(const ProcessInfo& process) const;

  private:
    std::vector<ApplicationProcessQuery> queries_;
    std::unordered_multimap<std::string, std::size_t> byId_;
    std::unordered_map<std::string, std::vector<std::size_t>> byProgram_;
};

// For each query, the processes of `processes` that belong to it, in the order given.
std::vector<std::vector<pid_t>> applicationProcesses(const std::vector<ProcessInfo>& processes,
                                                     std::vector<ApplicationProcessQuery> queries);

// The same for one application alone.
std::vector<pid_t> applicationProcesses(const std::vector<ProcessInfo>& processes,
                                        const ApplicationProcessQuery& query);

}  // namespace velopad
