#include "app/pairing/pairing_qr.h"

#include <gmock/gmock.h>
#include <gtest/gtest.h>
#include <unistd.h>

#include <filesystem>
#include <fstream>
#include <regex>
#include <sstream>
#include <string>
#include <vector>

#include "tests/support/child_process.h"

namespace velopad {
namespace {

// A light (0) / dark (1) picture of modules, as a camera would see it.
using Picture = std::vector<std::vector<int>>;

// Decodes a picture (rows of equal length) with zbarimg (zbar-tools), 4 pixels per module.
std::string decodeWithZbar(const Picture& picture) {
    const auto path = std::filesystem::temp_directory_path() /
                      ("pairing-qr-" + std::to_string(::getpid()) + ".pgm");
    constexpr std::size_t scale = 4;
    std::ofstream out(path, std::ios::binary);
    out << "P5\n" << picture.at(0).size() * scale << ' ' << picture.size() * scale << "\n255\n";
    for (std::size_t y = 0; y < picture.size() * scale; ++y)
        for (std::size_t x = 0; x < picture[0].size() * scale; ++x)
            out.put(picture[y / scale].at(x / scale) ? '\0' : '\xff');
    out.close();
    std::string text =
        testing::runCapturingOutput({"zbarimg", "--raw", "-q", path.string()}).second;
    std::filesystem::remove(path);
    if (!text.empty() && text.back() == '\n') text.pop_back();
    return text;
}

// Reads the terminal drawing back into module rows (escape sequences dropped).
Picture parseTerminal(const std::string& drawing) {
    Picture picture;
    std::istringstream lines(std::regex_replace(drawing, std::regex("\x1b\\[[0-9;]*m"), ""));
    for (std::string line; std::getline(lines, line);) {
        std::vector<int> top, bottom;
        for (std::size_t i = 0, width = 1; i < line.size(); i += width) {
            width = line[i] == ' ' ? 1 : 3;
            const std::string glyph = line.substr(i, width);
            EXPECT_THAT(glyph, ::testing::AnyOf(" ", "\u2580", "\u2584", "\u2588"));
            top.push_back(glyph == "\u2580" || glyph == "\u2588");
            bottom.push_back(glyph == "\u2584" || glyph == "\u2588");
        }
        picture.push_back(top);
        picture.push_back(bottom);
    }
    return picture;
}

const std::string typicalURL =
    "harborlink://pair?v=1&name=Studio&code=q3vJ0hXwTz8cR1mYbN5sLk2PaE7gUo4WdFi9CVxQy6M";

TEST(PairingQRTest, DrawsTheURLAtLevelMForTheTerminalOrShowsThePlaceholder) {
    EXPECT_EQ(pairingQRMatrix(""), std::nullopt);
    EXPECT_EQ(pairingQRForTerminal(""), "Waiting for the pairing code\u2026\n");
    EXPECT_EQ(pairingQRForTerminal(std::string(8000, 'x')), "Waiting for the pairing code\u2026\n");
    const auto matrix = pairingQRMatrix(typicalURL);
    ASSERT_TRUE(matrix);
    // Error-correction level bits of the format information beside the top-left finder:
    // M is 00, stored XOR-masked as dark, light.
    EXPECT_TRUE(matrix->isDark(0, 8));
    EXPECT_FALSE(matrix->isDark(1, 8));

    // Every line paints black on white and resets afterwards.
    const std::string drawing = renderQRForTerminal(*matrix);
    const std::regex paint("\x1b\\[38;5;16;48;5;231m");
    EXPECT_EQ(std::distance(std::sregex_iterator(drawing.begin(), drawing.end(), paint), {}),
              (matrix->size + 5) / 2);
    EXPECT_THAT(drawing, ::testing::EndsWith("\x1b[0m\n"));

    // A dark terminal around the drawing: the painted two-module quiet zone is enough for a camera.
    Picture onDarkTerminal = parseTerminal(drawing);
    for (auto& row : onDarkTerminal) {
        row.insert(row.begin(), 4, 1);
        row.insert(row.end(), 4, 1);
    }
    onDarkTerminal.insert(onDarkTerminal.begin(), 4, std::vector<int>(onDarkTerminal[0].size(), 1));
    onDarkTerminal.insert(onDarkTerminal.end(), 4, std::vector<int>(onDarkTerminal[0].size(), 1));
    EXPECT_EQ(decodeWithZbar(onDarkTerminal), typicalURL);
}

}  // namespace
}  // namespace velopad
