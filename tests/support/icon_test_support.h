#pragma once
// Icon fixtures: a Sandbox whose XDG_DATA_DIRS holds only a private "hicolor" theme, small PNG
// and SVG icons and desktop entries, and a PNG reader for checking results.

#include <gdk-pixbuf/gdk-pixbuf.h>

#include <cstdint>
#include <filesystem>
#include <optional>
#include <stdexcept>
#include <string>
#include <vector>

#include "tests/support/sandbox_fixture.h"

namespace velopad::testing {

struct DecodedPng {
    int width = 0;
    int height = 0;
    std::vector<std::uint8_t> rgba;  // row after row, 4 bytes a pixel

    std::uint32_t pixel(int x, int y) const {  // 0xRRGGBBAA
        const auto at = static_cast<std::size_t>(y * width + x) * 4;
        return (std::uint32_t{rgba.at(at)} << 24) | (std::uint32_t{rgba.at(at + 1)} << 16) |
               (std::uint32_t{rgba.at(at + 2)} << 8) | std::uint32_t{rgba.at(at + 3)};
    }
    std::uint8_t alpha(int x, int y) const { return static_cast<std::uint8_t>(pixel(x, y) & 0xFF); }
};

inline std::optional<DecodedPng> decodePng(const std::vector<std::uint8_t>& png) {
    GdkPixbufLoader* loader = gdk_pixbuf_loader_new_with_type("png", nullptr);
    const bool written = gdk_pixbuf_loader_write(loader, png.data(), png.size(), nullptr);
    const bool closed = gdk_pixbuf_loader_close(loader, nullptr);
    GdkPixbuf* image = written && closed ? gdk_pixbuf_loader_get_pixbuf(loader) : nullptr;
    std::optional<DecodedPng> decoded;
    if (image != nullptr) {
        GdkPixbuf* rgba = gdk_pixbuf_add_alpha(image, FALSE, 0, 0, 0);  // 4 bytes a pixel
        decoded = DecodedPng{gdk_pixbuf_get_width(rgba), gdk_pixbuf_get_height(rgba), {}};
        for (int y = 0; y < decoded->height; ++y) {
            const guchar* row = gdk_pixbuf_read_pixels(rgba) + y * gdk_pixbuf_get_rowstride(rgba);
            decoded->rgba.insert(decoded->rgba.end(), row, row + decoded->width * 4);
        }
        g_object_unref(rgba);
    }
    g_object_unref(loader);
    return decoded;
}

// Images of one opaque colour: 0xRRGGBB for PNG, "#00ff00" for SVG.
inline void writeSolidPng(const std::filesystem::path& file, int width, int height,
                          std::uint32_t rgb) {
    std::filesystem::create_directories(file.parent_path());
    GdkPixbuf* image = gdk_pixbuf_new(GDK_COLORSPACE_RGB, TRUE, 8, width, height);
    gdk_pixbuf_fill(image, (rgb << 8) | 0xFF);
    const bool saved = gdk_pixbuf_save(image, file.c_str(), "png", nullptr, nullptr);
    g_object_unref(image);
    if (!saved) throw std::runtime_error("cannot write " + file.string());
}
inline void writeSolidSvg(const std::filesystem::path& file, int width, int height,
                          const std::string& colour) {
    const std::string w = std::to_string(width), h = std::to_string(height);
    writeTextFile(file, "<svg xmlns=\"http://www.w3.org/2000/svg\" width=\"" + w + "\" height=\"" +
                            h + "\" viewBox=\"0 0 " + w + " " + h + "\"><rect width=\"" + w +
                            "\" height=\"" + h + "\" fill=\"" + colour + "\"/></svg>\n");
}

// Lower-case hex, computed independently of the code under test.
inline std::string sha256Hex(const std::vector<std::uint8_t>& bytes) {
    return runCapturingOutput({"sha256sum"}, std::string(bytes.begin(), bytes.end()))
        .second.substr(0, 64);
}

class IconThemeSandbox {
  public:
    explicit IconThemeSandbox(Sandbox& sandbox) : root_(sandbox.root()) {
        sandbox.setEnv("XDG_DATA_DIRS", dataDir().string());
        sandbox.setEnv("DBUS_SESSION_BUS_ADDRESS", std::nullopt);
        writeTextFile(
            hicolor() / "index.theme",
            "[Icon Theme]\nName=Hicolor\nDirectories=48x48/apps,128x128/apps,scalable/apps\n\n"
            "[48x48/apps]\nSize=48\nType=Threshold\n\n"
            "[128x128/apps]\nSize=128\nType=Threshold\n\n"
            "[scalable/apps]\nSize=128\nMinSize=8\nMaxSize=512\nType=Scalable\n");
        std::filesystem::create_directories(applications());
    }

    std::filesystem::path dataDir() const { return root_ / "share"; }  // all of XDG_DATA_DIRS
    std::filesystem::path hicolor() const { return dataDir() / "icons" / "hicolor"; }
    std::filesystem::path applications() const { return dataDir() / "applications"; }

    std::filesystem::path writeApplication(const std::string& id,
                                           const std::optional<std::string>& icon) const {
        const auto file = applications() / (id + ".desktop");
        writeTextFile(file, desktopEntry(id, "/bin/true", icon ? "Icon=" + *icon + "\n" : ""));
        return file;
    }

  private:
    std::filesystem::path root_;
};

}  // namespace velopad::testing
