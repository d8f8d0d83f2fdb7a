#include "platform/linux/icon_render.h"

#include <gdk-pixbuf/gdk-pixbuf.h>

#include <algorithm>
#include <memory>

namespace velopad {
namespace {

struct PixbufDeleter {
    void operator()(GdkPixbuf* pixbuf) const { g_object_unref(pixbuf); }
};
using Pixbuf = std::unique_ptr<GdkPixbuf, PixbufDeleter>;

}  // namespace

std::optional<std::vector<std::uint8_t>> renderIconPng(const std::filesystem::path& file, int side) {
    if (side <= 0) {
        return std::nullopt;
    }
    GError* error = nullptr;
    // Vector images are drawn at the target size; bitmaps are scaled to it.
    Pixbuf image(gdk_pixbuf_new_from_file_at_scale(file.c_str(), side, side, TRUE, &error));
    if (!image) {
        if (error != nullptr) {
            g_error_free(error);
        }
        return std::nullopt;
    }
    Pixbuf canvas(gdk_pixbuf_new(GDK_COLORSPACE_RGB, TRUE, 8, side, side));
    if (!canvas) {
        return std::nullopt;
    }
    gdk_pixbuf_fill(canvas.get(), 0x00000000);
    const int width = std::min(gdk_pixbuf_get_width(image.get()), side);
    const int height = std::min(gdk_pixbuf_get_height(image.get()), side);
    gdk_pixbuf_copy_area(image.get(), 0, 0, width, height, canvas.get(), (side - width) / 2, (side - height) / 2);

    gchar* buffer = nullptr;
    gsize size = 0;
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
