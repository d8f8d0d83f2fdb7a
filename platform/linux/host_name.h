#pragma once
// The computer's user-visible name, under which the agent advertises itself and which the pairing
// QR code carries.

#include <filesystem>
#include <optional>
#include <string>
#include <string_view>

namespace velopad {

// The name used when the computer has no name of its own.
inline constexpr std::string_view fallbackComputerName = "Velopad Mac";

// Where systemd-hostnamed keeps the pretty host name.
inline constexpr std::string_view defaultMachineInfoPath = "/etc/machine-info";

// PRETTY_HOSTNAME from a machine-info file (KEY=VALUE lines with shell-style quoting and escapes;
// the last assignment wins). None when the file is missing or unreadable, or the value is empty.
std::optional<std::string> prettyHostName(const std::filesystem::path& machineInfo);

// The kernel's host name (gethostname); none when it is empty or unset ("(none)").
std::optional<std::string> systemHostName();

// The pretty host name, else the host name, else "Velopad Mac". Used unchanged: no trimming or
// truncation here (the DNS-SD advertiser fits it to a DNS label itself).
std::string computerName(const std::filesystem::path& machineInfo = defaultMachineInfoPath);

}  // namespace velopad
