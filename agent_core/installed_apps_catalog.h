#pragma once
// The applications installed on this computer, for the deck editor's "Apps" library: a scan
// of the system's application listing (off the caller's thread) yielding plain records, then
// each record resolved through the workspace and given its icon and accent colour.

#include <filesystem>
#include <functional>
#include <optional>
#include <string>
#include <vector>

#include "agent_core/app_accent_color.h"
#include "agent_core/async.h"
#include "agent_core/workspace_client.h"

namespace velopad {

struct AppBundleInfo {
    std::string label;                    // the name shown to the user
    std::string bundleId;                 // never empty
    std::optional<std::string> iconName;  // the label lower-cased with every space removed

    friend bool operator==(const AppBundleInfo&, const AppBundleInfo&) = default;
};

struct InstalledApp {
    std::string label;
    std::string bundleId;
    std::optional<std::string> iconName;
    RgbaImage icon;  // 64 × 64 pixels
    RgbColor accent;
};

inline constexpr int kInstalledAppIconSide = 64;

// How the platform lists applications and draws their icons. Both block; both are run on the
// thread pool and must be safe to call from any thread.
struct InstalledAppsSource {
    // Every shown application, each identifier once, sorted by label (see the Linux binding).
    std::function<std::vector<AppBundleInfo>()> scanApplicationBundles;
    // The icon the desktop shows for the application installed at `url`, 64 × 64 pixels.
    std::function<std::optional<RgbaImage>(const std::filesystem::path& url)> iconForApplication;
};

// For each scanned record in order: the workspace's URL for its identifier (none: left out),
// the icon at that URL (none: a transparent icon) and its accent (none: defaultAccent). Scans
// afresh on every call; nothing is cached. Fails only if the scan itself throws.
Task<std::vector<InstalledApp>> loadInstalledApps(WorkspaceClient workspace,
                                                  InstalledAppsSource source,
                                                  asio::thread_pool& pool);

}  // namespace velopad
