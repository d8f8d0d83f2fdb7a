#include "agent_core/shortcut_icon_provider.h"

#include <algorithm>
#include <cctype>
#include <exception>

#include "protocol/mac_icon_sync_policy.h"

namespace velopad {

ShortcutIconProvider::ShortcutIconProvider(Executor executor, asio::thread_pool& pool,
                                           ShortcutIconSource source)
    : strand_(asio::make_strand(std::move(executor))), pool_(pool), source_(std::move(source)) {}

std::string ShortcutIconProvider::normalizedKey(std::string_view identifier) {
    std::string key(identifier);
    std::transform(key.begin(), key.end(), key.begin(),
                   [](unsigned char c) { return static_cast<char>(std::tolower(c)); });
    return key;
}

Task<std::optional<IconPng>> ShortcutIconProvider::pngAndRevision(std::string identifier) {
    // No operation fails: a source that throws counts as "no icon".
    std::optional<IconPng> icon;
    try {
        icon = co_await onStrand(strand_, lookUp(std::move(identifier)));
    } catch (const std::exception&) {
    }
    co_return icon;
}

Task<std::optional<std::string>> ShortcutIconProvider::revision(std::string identifier) {
    auto icon = co_await pngAndRevision(std::move(identifier));
    if (!icon) {
        co_return std::nullopt;
    }
    co_return std::move(icon->revision);
}

Task<std::map<std::string, PngBytes>> ShortcutIconProvider::preloadAll() {
    std::map<std::string, PngBytes> icons;
    try {
        icons = co_await onStrand(strand_, preload());
    } catch (const std::exception&) {
    }
    co_return icons;
}

std::string ShortcutIconProvider::lookOf(const std::string& identifier) const {
    std::string look = source_.appearance ? source_.appearance() : std::string();
    if (source_.stamp) look += '\n' + source_.stamp(identifier);
    return look;
}

Task<std::optional<IconPng>> ShortcutIconProvider::lookUp(std::string identifier) {
    const std::string key = normalizedKey(identifier);
    std::string appearance;
    if (source_.appearance || source_.stamp) {
        const auto readLook = [this, &identifier] { return lookOf(identifier); };
        appearance = co_await runBlocking(pool_, readLook);
    }
    if (const auto cached = cache_.find(key);
        cached != cache_.end() && cached->second.appearance == appearance) {
        co_return cached->second.icon;
    }
    // Work sent to the pool captures only pointers (GCC 12 may destroy runBlocking's closure
    // twice); what they point to lives in this coroutine, which waits for the work.
    const auto fetch = [this, &identifier]() -> std::optional<IconPng> {
        auto png = source_.fetchIcon ? source_.fetchIcon(identifier) : std::nullopt;
        if (!png || png->empty()) {
            return std::nullopt;
        }
        std::string revision = iconRevision(*png);
        return IconPng{std::move(revision), std::move(*png)};
    };
    std::optional<IconPng> fetched = co_await runBlocking(pool_, fetch);
    if (!fetched) {
        co_return std::nullopt;
    }
    // Another caller may have stored this key meanwhile; the later store wins.
    cache_.insert_or_assign(key, CacheEntry{*fetched, std::move(appearance)});
    co_return fetched;
}

Task<std::map<std::string, PngBytes>> ShortcutIconProvider::preload() {
    struct Fetched {
        std::string identifier;
        IconPng icon;
        std::string look;
    };
    const auto fetchAll = [this] {
        std::map<std::string, PngBytes> latest;  // a later entry for the same identifier wins
        if (source_.fetchAllIcons) {
            for (auto& [identifier, png] : source_.fetchAllIcons()) {
                if (!png.empty() && MacIconSyncPolicy::isShortcutIdentifier(identifier)) {
                    latest.insert_or_assign(std::move(identifier), std::move(png));
                }
            }
        }
        std::vector<Fetched> icons;
        for (auto& [identifier, png] : latest) {
            std::string revision = iconRevision(png);
            std::string look = lookOf(identifier);
            icons.push_back(
                {identifier, IconPng{std::move(revision), std::move(png)}, std::move(look)});
        }
        return icons;
    };
    std::vector<Fetched> fetched = co_await runBlocking(pool_, fetchAll);

    std::map<std::string, PngBytes> result;
    for (auto& entry : fetched) {
        std::string key = normalizedKey(entry.identifier);
        cache_.insert_or_assign(key, CacheEntry{entry.icon, std::move(entry.look)});
        result.insert_or_assign(std::move(key), entry.icon.pngData);
        result.insert_or_assign(std::move(entry.identifier), std::move(entry.icon.pngData));
    }
    co_return result;
}

}  // namespace velopad
