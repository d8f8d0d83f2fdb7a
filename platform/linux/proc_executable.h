#pragma once
// Finding the processes that run a given executable file, through /proc.

#include <sys/types.h>

#include <filesystem>
#include <optional>
#include <string>
#include <vector>

namespace velopad {

// An executable file as the kernel knows it: same device and inode means the same file, whatever
// the path or link it was started through.
struct ExecutableFile {
    dev_t device = 0;
    ino_t inode = 0;
    std::string path;  // canonical path, to recognise processes whose file was replaced since
};

// The file at `path` (symbolic links followed); none when it cannot be examined.
std::optional<ExecutableFile> executableFile(const std::filesystem::path& path);

// Whether process `pid` has the calling user's real user ID and runs `file`: the same device and
// inode, or a file that has since been deleted or replaced at the same path (an older copy still
// running after an update). Gone, zombie and unreadable processes do not match.
bool processRunsExecutable(pid_t pid, const ExecutableFile& file);

// Every process except the calling one for which processRunsExecutable holds, by ascending PID.
std::vector<pid_t> otherProcessesRunning(const ExecutableFile& file);

}  // namespace velopad
