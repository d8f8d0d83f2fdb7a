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

namespace velopad {

struct ProcessInfo {
    pid_t pid = 0;
    std::vector<std::string> cgroupUnits;  // last path element of each control group, each once
    std::optional<std::filesystem::path> executable;  // what /proc/<pid>/exe points to
    std::vector<std::filesystem::path> scriptPaths;   // other absolute argv[0]/argv[1], canonical
    std::optional<std::string> flatpakApplicationId;  // [Application] name= of .flatpak-info
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

// Whether a systemd unit name is one that desktops use for an instance of `applicationId`:
// "app[-<launcher>]-<id>-<random>.scope" or "app[-<launcher>]-<id>[@<random>].service", with
// "-" inside the ID written either as "\x2d" (systemd escaping) or plainly.
bool unitNamesApplication(std::string_view unit, std::string_view applicationId);

struct ApplicationProcessQuery {
    std::string applicationId;
    std::optional<std::filesystem::path> executable;  // canonical; nothing skips that test
};

// Programs that start other programs (shells, interpreters, sandboxes): an entry whose Exec
// starts with one of these cannot be recognised by its program.
bool isGenericLauncher(const std::filesystem::path& executable);

bool processBelongsTo(const ProcessInfo& process, const ApplicationProcessQuery& query);

// The processes of `processes` that belong to the application, in the order given.
std::vector<pid_t> applicationProcesses(const std::vector<ProcessInfo>& processes,
                                        const ApplicationProcessQuery& query);

}  // namespace velopad
