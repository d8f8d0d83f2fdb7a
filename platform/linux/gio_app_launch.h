#pragma once
// Starting a listed desktop entry through GIO. The entry's Exec line is parsed by GIO and run
// directly (never through a shell); nothing from the request becomes part of the command.

#include <filesystem>
#include <optional>
#include <stdexcept>
#include <string>

namespace velopad {

// A launch that the system refused; what() is GIO's description.
class ApplicationLaunchError : public std::runtime_error {
  public:
    using std::runtime_error::runtime_error;
};

// Starts the listed entry stored at `desktopFile` with no files. The started program gets
// DISPLAY = `display`, or no DISPLAY when that is nothing. A D-Bus activatable entry is
// activated over the session bus (org.freedesktop.Application.Activate) when there is one.
// True when a process was started or the activation call returned without error; false when
// the file is not a listed entry. Throws ApplicationLaunchError when GIO or the activated
// application reports a failure. Blocking.
bool launchDesktopEntry(const std::filesystem::path& desktopFile,
                        const std::optional<std::string>& display);

}  // namespace velopad
