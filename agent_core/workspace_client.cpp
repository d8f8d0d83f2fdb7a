#include "agent_core/workspace_client.h"

#include <utility>

namespace velopad {

Task<std::set<std::string>> WorkspaceClient::installedBundleIds(
    std::vector<std::string> bundleIds) const {
    const auto lookup = urlForApplication;
    std::set<std::string> installed, seen;
    for (auto& bundleId : bundleIds) {
        if (!seen.insert(bundleId).second) continue;
        const auto url = co_await lookup(bundleId);
        if (url) installed.insert(std::move(bundleId));
    }
    co_return installed;
}

Task<std::set<std::string>> WorkspaceClient::runningBundleIds(
    std::vector<std::string> bundleIds) const {
    const auto lookup = runningApplication;
    std::set<std::string> running, seen;
    for (auto& bundleId : bundleIds) {
        if (!seen.insert(bundleId).second) continue;
        const auto handle = co_await lookup(bundleId);
        if (handle) running.insert(std::move(bundleId));
    }
    co_return running;
}

Task<std::vector<std::string>> WorkspaceClient::listRunningApplicationIds() const {
    const auto list = runningApplicationIds;
    if (!list) co_return std::vector<std::string>{};
    co_return co_await list();
}

}  // namespace velopad
