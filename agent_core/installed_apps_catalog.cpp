#include "agent_core/installed_apps_catalog.h"

#include <utility>

namespace velopad {

Task<std::vector<InstalledApp>> loadInstalledApps(WorkspaceClient workspace,
                                                  InstalledAppsSource source,
                                                  asio::thread_pool& pool) {
    const auto scan = source.scanApplicationBundles;
    const auto records = co_await runBlocking(pool, [&scan] { return scan(); });

    std::vector<InstalledApp> apps;
    for (const auto& record : records) {
        const auto url = co_await workspace.urlForApplication(record.bundleId);
        if (!url) continue;
        const auto& iconFor = source.iconForApplication;
        auto icon = co_await runBlocking(pool, [&iconFor, &url] { return iconFor(*url); });
        if (!icon || !icon->isValid()) {
            icon = RgbaImage{
                kInstalledAppIconSide, kInstalledAppIconSide,
                std::vector<std::uint8_t>(kInstalledAppIconSide * kInstalledAppIconSide * 4)};
        }
        const RgbColor accent = accentColor(*icon).value_or(defaultAccent());
        apps.push_back(
            InstalledApp{record.label, record.bundleId, record.iconName, std::move(*icon), accent});
    }
    co_return apps;
}

}  // namespace velopad
