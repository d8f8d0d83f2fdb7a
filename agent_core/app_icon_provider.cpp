#include "agent_core/app_icon_provider.h"

#include <exception>
#include <utility>

#include "agent_core/serial_gate.h"

namespace velopad {

AppIconProvider::AppIconProvider(Executor executor, asio::thread_pool& pool, AppIconSource source)
    : strand_(asio::make_strand(std::move(executor))),
      pool_(pool),
      source_(std::move(source)),
      gate_(std::make_unique<SerialGate>(strand_)) {}

AppIconProvider::~AppIconProvider() = default;

Task<std::optional<IconPng>> AppIconProvider::pngAndRevision(std::string bundleId,
                                                             WorkspaceClient workspace) {
    co_return co_await onStrand(strand_, lookUp(std::move(bundleId), std::move(workspace)));
}

Task<std::optional<std::string>> AppIconProvider::revision(std::string bundleId,
                                                           WorkspaceClient workspace) {
    auto icon = co_await pngAndRevision(std::move(bundleId), std::move(workspace));
    if (!icon) {
        co_return std::nullopt;
    }
    co_return std::move(icon->revision);
}

Task<std::optional<IconPng>> AppIconProvider::lookUp(std::string bundleId,
                                                     WorkspaceClient workspace) {
    const SerialGate::Pass pass = co_await gate_->enter();
    // Neither operation fails: a workspace or source that throws counts as "no icon".
    std::optional<IconPng> icon;
    try {
        icon = co_await lookUpInSection(std::move(bundleId), std::move(workspace));
    } catch (const std::exception&) {
    }
    co_return icon;
}

Task<std::optional<IconPng>> AppIconProvider::lookUpInSection(std::string bundleId,
                                                              WorkspaceClient workspace) {
    std::optional<std::filesystem::path> url;
    if (workspace.urlForApplication) {
        url = co_await workspace.urlForApplication(bundleId);
    }
    if (!url) {
        co_return std::nullopt;
    }
    // Work sent to the pool captures only pointers (GCC 12 may destroy runBlocking's closure
    // twice); what they point to lives in this coroutine, which waits for the work.
    struct Stamp {
        std::optional<std::filesystem::file_time_type> modified;
        std::string appearance;
        std::string iconStamp;
    };
    const auto readStamp = [this, &url] {
        Stamp stamp{
            source_.contentModificationDate ? source_.contentModificationDate(*url) : std::nullopt,
            source_.appearance ? source_.appearance() : std::string(), std::string()};
        if (source_.iconStamp) stamp.iconStamp = source_.iconStamp(*url, stamp.appearance);
        return stamp;
    };
    Stamp stamp = co_await runBlocking(pool_, readStamp);

    if (const auto cached = cache_.find(bundleId);
        cached != cache_.end() && cached->second.contentModificationDate == stamp.modified &&
        cached->second.appearance == stamp.appearance &&
        cached->second.iconStamp == stamp.iconStamp) {
        co_return IconPng{cached->second.revision, cached->second.pngData};
    }

    const auto render = [this, &url]() -> std::optional<IconPng> {
        auto png = source_.renderIcon ? source_.renderIcon(*url) : std::nullopt;
        if (!png || png->empty()) {
            return std::nullopt;
        }
        std::string revision = iconRevision(*png);
        return IconPng{std::move(revision), std::move(*png)};
    };
    std::optional<IconPng> rendered = co_await runBlocking(pool_, render);
    if (!rendered) {
        co_return std::nullopt;
    }
    cache_.insert_or_assign(bundleId,
                            CacheEntry{rendered->revision, rendered->pngData, stamp.modified,
                                       std::move(stamp.appearance), std::move(stamp.iconStamp)});
    co_return rendered;
}

}  // namespace velopad
