#include "tests/support/shortcut_test_support.h"

#include <fstream>
#include <stdexcept>

namespace velopad::testing {

std::string shortcutsToolPath() { return VELOPAD_BINARY_DIR "/app/velopad-shortcuts"; }

std::string testHelperPath(const std::string& name) { return VELOPAD_BINARY_DIR "/tests/" + name; }

std::filesystem::path ShortcutsSandbox::shortcutsDirectory() const {
    return dataHome() / "HarborlinkAgent" / "Shortcuts";
}

void ShortcutsSandbox::writeShortcut(const std::string& identifier, const std::string& name,
                                     const std::string& exec,
                                     const std::optional<std::string>& icon) const {
    std::filesystem::create_directories(shortcutsDirectory());
    std::ofstream file(shortcutsDirectory() / (identifier + ".desktop"));
    file << "[Desktop Entry]\nType=Application\nName=" << name << "\nExec=" << exec << "\n";
    if (icon) {
        file << "Icon=" << *icon << "\n";
    }
    if (!file) {
        throw std::runtime_error("could not write the Shortcut file");
    }
}

}  // namespace velopad::testing
