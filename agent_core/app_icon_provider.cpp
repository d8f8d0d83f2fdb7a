#include "agent_core/app_icon_provider.h"

#include <exception>
#include <utility>

#include "agent_core/serial_gate.h"

namespace velopad {

namespace {

// What the cached icon of an application was drawn from.
struct Stamp {
    std::optional<std::filesystem::file_time_type> modified;
    std::string appearance;
    std::string iconStamp;

    bool matches(const AppIconProvider::CacheEntry& cached) const {
        return cached.contentModificationDate == modified && cached.appearance == appearance &&
               cached.iconStamp == iconStamp;
    }
};

std::string readAppearance(const AppIconSource& source) {
    return source.appearance ? source.appearance() : std::string();
}

// Blocks: runs on the pool.
Stamp readStamp(const AppIconSource& source, const std::filesystem::path& url,
                std::string appearance) {
    Stamp stamp{source.contentModificationDate ? source.contentModificationDate(url) : std::nullopt,
                std::move(appearance), std::string()};
    if (source.iconStamp) stamp.iconStamp = source.iconStamp(url, stamp.appearance);
    return stamp;
}

Task<std::optional<std::filesystem::path>> urlOrNothing(const WorkspaceClient& workspace,
                                                        std::string bundleId) {
    std::optional<std::filesystem::path> url;
    try {
        url = co_await workspace.urlForApplication(std::move(bundleId));
    } catch (const std::exception&) {
        url.reset();  // counts as not installed
    }
    co_return url;
}

}  // namespace

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
    const auto read = [this, &url] { return readStamp(source_, *url, readAppearance(source_)); };
    Stamp stamp = co_await runBlocking(pool_, read);

    if (const auto cached = cache_.find(bundleId);
        cached != cache_.end() && stamp.matches(cached->second)) {
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

Task<std::map<std::string, std::string>> AppIconProvider::revisions(
    std::vector<std::string> bundleIds, WorkspaceClient workspace) {
    auto operation = [](AppIconProvider* self, std::vector<std::string> bundleIds,
                        WorkspaceClient workspace) -> Task<std::map<std::string, std::string>> {
        const SerialGate::Pass pass = co_await self->gate_->enter();
        co_return co_await self->revisionsInSection(std::move(bundleIds), std::move(workspace));
    };
    auto task = operation(this, std::move(bundleIds), std::move(workspace));
    co_return co_await onStrand(strand_, std::move(task));
}

// One trip to the pool for the stamps of all; only icons whose stamp changed are drawn again.
Task<std::map<std::string, std::string>> AppIconProvider::revisionsInSection(
    std::vector<std::string> bundleIds, WorkspaceClient workspace) {
    std::map<std::string, std::string> revisions;
    if (!workspace.urlForApplication) co_return revisions;
    std::map<std::string, std::filesystem::path> urls;
    for (std::string& bundleId : bundleIds) {
        if (urls.contains(bundleId)) continue;
        std::optional<std::filesystem::path> url = co_await urlOrNothing(workspace, bundleId);
        if (url) urls.emplace(std::move(bundleId), std::move(*url));
    }
    std::map<std::string, Stamp> stamps;
    const auto read = [this, &urls, &stamps] {
        const std::string appearance = readAppearance(source_);  // the same look for all
        for (const auto& [bundleId, url] : urls) {
            try {
                stamps.emplace(bundleId, readStamp(source_, url, appearance));
            } catch (const std::exception&) {
                // drawn afresh below, which tells whether there is an icon at all
            }
        }
    };
    co_await runBlocking(pool_, read);

    for (const auto& [bundleId, url] : urls) {
        const auto cached = cache_.find(bundleId);
        const auto stamp = stamps.find(bundleId);
        if (cached != cache_.end() && stamp != stamps.end() &&
            stamp->second.matches(cached->second)) {
            revisions.emplace(bundleId, cached->second.revision);
            continue;
        }
        std::optional<IconPng> icon;
        try {
            icon = co_await lookUpInSection(bundleId, workspace);
        } catch (const std::exception&) {
            icon.reset();
        }
        if (icon) revisions.emplace(bundleId, std::move(icon->revision));
    }
    co_return revisions;
}

}  // namespace velopad
