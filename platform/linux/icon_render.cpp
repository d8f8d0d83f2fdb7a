#include "platform/linux/icon_render.h"

#include <gdk-pixbuf/gdk-pixbuf.h>

#include <algorithm>
#include <cctype>
#include <cmath>
#include <fstream>
#include <iterator>
#include <memory>
#include <string>

namespace velopad {
namespace {

struct PixbufDeleter {
    void operator()(GdkPixbuf* pixbuf) const { g_object_unref(pixbuf); }
};
using Pixbuf = std::unique_ptr<GdkPixbuf, PixbufDeleter>;

constexpr std::uintmax_t kMaxIconFileSize = 16U << 20U;

// The gdk-pixbuf loader for an icon file, chosen by its extension. Choosing it ourselves keeps
// rendering independent of the MIME database that content sniffing would need.
const char* loaderFor(const std::filesystem::path& file) {
    std::string extension = file.extension().string();
    std::transform(extension.begin(), extension.end(), extension.begin(),
                   [](unsigned char c) { return static_cast<char>(std::tolower(c)); });
    if (extension == ".png") return "png";
    if (extension == ".svg" || extension == ".svgz") return "svg";
    if (extension == ".xpm") return "xpm";
    if (extension == ".jpg" || extension == ".jpeg") return "jpeg";
    if (extension == ".ico") return "ico";
    if (extension == ".bmp") return "bmp";
    if (extension == ".gif") return "gif";
    return nullptr;
}

// Asks the loader for the largest size that fits side × side with the aspect ratio kept;
// vector images are then drawn at that size, bitmaps scaled to it.
void fitInto(GdkPixbufLoader* loader, int width, int height, gpointer data) {
    const int side = *static_cast<const int*>(data);
    if (width <= 0 || height <= 0) {
        return;
    }
    const double scale =
        std::min(static_cast<double>(side) / width, static_cast<double>(side) / height);
    const int fittedWidth = std::clamp(static_cast<int>(std::lround(width * scale)), 1, side);
    const int fittedHeight = std::clamp(static_cast<int>(std::lround(height * scale)), 1, side);
    gdk_pixbuf_loader_set_size(loader, fittedWidth, fittedHeight);
}

Pixbuf loadWithLoader(const std::filesystem::path& file, const char* type, int side) {
    std::error_code error;
    const auto size = std::filesystem::file_size(file, error);
    if (error || size > kMaxIconFileSize) {
        return nullptr;
    }
    std::ifstream in(file, std::ios::binary);
    const std::string bytes((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
    if (!in && !in.eof()) {
        return nullptr;
    }
    GdkPixbufLoader* loader = gdk_pixbuf_loader_new_with_type(type, nullptr);
    if (loader == nullptr) {
        return nullptr;
    }
    g_signal_connect(loader, "size-prepared", G_CALLBACK(fitInto), &side);
    const bool written = gdk_pixbuf_loader_write(
        loader, reinterpret_cast<const guchar*>(bytes.data()), bytes.size(), nullptr);
    const bool closed = gdk_pixbuf_loader_close(loader, nullptr);
    Pixbuf image;
    if (written && closed) {
        if (GdkPixbuf* loaded = gdk_pixbuf_loader_get_pixbuf(loader)) {
            image.reset(GDK_PIXBUF(g_object_ref(loaded)));
        }
    }
    g_object_unref(loader);
    return image;
}

Pixbuf load(const std::filesystem::path& file, int side) {
    if (const char* type = loaderFor(file)) {
        return loadWithLoader(file, type, side);
    }
    GError* error = nullptr;
    Pixbuf image(gdk_pixbuf_new_from_file_at_scale(file.c_str(), side, side, TRUE, &error));
    if (error != nullptr) {
        g_error_free(error);
    }
    return image;
}

}  // namespace

std::optional<std::vector<std::uint8_t>> renderIconPng(const std::filesystem::path& file,
                                                       int side) {
    if (side <= 0) {
        return std::nullopt;
    }
    const Pixbuf image = load(file, side);
    if (!image) {
        return std::nullopt;
    }
    const Pixbuf canvas(gdk_pixbuf_new(GDK_COLORSPACE_RGB, TRUE, 8, side, side));
    if (!canvas) {
        return std::nullopt;
    }
    gdk_pixbuf_fill(canvas.get(), 0x00000000);
    const int width = std::min(gdk_pixbuf_get_width(image.get()), side);
    const int height = std::min(gdk_pixbuf_get_height(image.get()), side);
    gdk_pixbuf_copy_area(image.get(), 0, 0, width, height, canvas.get(), (side - width) / 2,
                         (side - height) / 2);

    gchar* buffer = nullptr;
    gsize size = 0;
    GError* error = nullptr;
    if (!gdk_pixbuf_save_to_buffer(canvas.get(), &buffer, &size, "png", &error, nullptr)) {
        if (error != nullptr) {
            g_error_free(error);
        }
        return std::nullopt;
    }
    std::vector<std::uint8_t> png(reinterpret_cast<const std::uint8_t*>(buffer),
                                  reinterpret_cast<const std::uint8_t*>(buffer) + size);
    g_free(buffer);
    if (png.empty()) {
        return std::nullopt;
    }
    return png;
}

}  // namespace velopad
