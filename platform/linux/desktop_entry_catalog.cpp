#include "platform/linux/desktop_entry_catalog.h"

#include <gdk-pixbuf/gdk-pixbuf.h>

#include <algorithm>
#include <set>

#include "platform/linux/desktop_entry_lookup.h"
#include "platform/linux/gio_handles.h"
#include "platform/linux/icon_render_sources.h"

namespace velopad {
namespace {

// A PNG as straight RGBA pixels scaled to side × side.
std::optional<RgbaImage> decodeScaled(const std::vector<std::uint8_t>& png, int side) {
    gio::Object<GdkPixbufLoader> loader(gdk_pixbuf_loader_new_with_type("png", nullptr));
    if (!loader) return std::nullopt;
    const bool written = gdk_pixbuf_loader_write(loader.get(), png.data(), png.size(), nullptr);
    const bool closed = gdk_pixbuf_loader_close(loader.get(), nullptr);
    GdkPixbuf* decoded = gdk_pixbuf_loader_get_pixbuf(loader.get());  // owned by the loader
    if (!written || !closed || !decoded) return std::nullopt;

    gio::Object<GdkPixbuf> withAlpha(gdk_pixbuf_add_alpha(decoded, FALSE, 0, 0, 0));
    if (!withAlpha) return std::nullopt;
    gio::Object<GdkPixbuf> scaled(
        gdk_pixbuf_scale_simple(withAlpha.get(), side, side, GDK_INTERP_BILINEAR));
    if (!scaled || gdk_pixbuf_get_n_channels(scaled.get()) != 4 ||
        gdk_pixbuf_get_bits_per_sample(scaled.get()) != 8) {
        return std::nullopt;
    }

    RgbaImage image{side, side, {}};
    image.pixels.reserve(static_cast<std::size_t>(side) * side * 4);
    const int stride = gdk_pixbuf_get_rowstride(scaled.get());
    const guchar* pixels = gdk_pixbuf_read_pixels(scaled.get());
    for (int y = 0; y < side; ++y) {
        const guchar* row = pixels + static_cast<std::ptrdiff_t>(y) * stride;
        image.pixels.insert(image.pixels.end(), row, row + side * 4);
    }
    return image;
}

}  // namespace

std::string iconNameForLabel(const std::string& label) {
    std::string name = gio::takeString(g_utf8_strdown(label.c_str(), -1));
    name.erase(std::remove(name.begin(), name.end(), ' '), name.end());
    return name;
}

std::vector<AppBundleInfo> scanApplicationBundles() {
    struct Keyed {
        std::string key;
        AppBundleInfo info;
    };
    std::vector<Keyed> keyed;
    std::set<std::string> seen;
    for (auto& entry : listDesktopEntries()) {
        if (!entry.shown || !seen.insert(entry.id).second) continue;
        std::string label = entry.name.empty() ? entry.id : entry.name;
        const std::string folded = gio::takeString(g_utf8_casefold(label.c_str(), -1));
        std::string key = gio::takeString(g_utf8_collate_key(folded.c_str(), -1));
        std::string iconName = iconNameForLabel(label);
        keyed.push_back({std::move(key), {std::move(label), entry.id, std::move(iconName)}});
    }
    std::stable_sort(keyed.begin(), keyed.end(),
                     [](const Keyed& a, const Keyed& b) { return a.key < b.key; });
    std::vector<AppBundleInfo> result;
    result.reserve(keyed.size());
    for (auto& item : keyed) result.push_back(std::move(item.info));
    return result;
}

std::optional<RgbaImage> desktopEntryIconImage(const std::filesystem::path& desktopFile, int side) {
    const IconThemeLookup theme = currentIconTheme();
    auto png = renderDesktopEntryIcon(desktopFile, theme);
    if (!png) png = renderGenericApplicationIcon(theme);
    if (!png) return std::nullopt;
    return decodeScaled(*png, side);
}

InstalledAppsSource linuxInstalledAppsSource() {
    return InstalledAppsSource{
        [] { return scanApplicationBundles(); },
        [](const std::filesystem::path& url) { return desktopEntryIconImage(url); }};
}

}  // namespace velopad
