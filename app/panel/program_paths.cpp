#include "app/panel/program_paths.h"

#include <unistd.h>

namespace velopad {

namespace {

std::optional<std::filesystem::path> firstExecutable(
    std::initializer_list<std::filesystem::path> candidates) {
    for (const auto& candidate : candidates) {
        if (::access(candidate.c_str(), X_OK) == 0 && std::filesystem::is_regular_file(candidate))
            return std::filesystem::weakly_canonical(candidate);
    }
    return std::nullopt;
}

}  // namespace

std::filesystem::path currentExecutable() {
    std::error_code error;
    auto path = std::filesystem::read_symlink("/proc/self/exe", error);
    return error ? std::filesystem::path("/proc/self/exe") : path;
}

std::optional<std::filesystem::path> desktopProgramFor(const std::filesystem::path& launcher) {
    const auto directory = launcher.parent_path();
    return firstExecutable({directory / desktopProgramName,
                            directory / ".." / "libexec" / "velopad-agent" / desktopProgramName});
}

std::optional<std::filesystem::path> launcherProgramFor(const std::filesystem::path& desktop) {
    const auto directory = desktop.parent_path();
    return firstExecutable(
        {directory / launcherProgramName, directory / ".." / ".." / "bin" / launcherProgramName});
}

}  // namespace velopad
