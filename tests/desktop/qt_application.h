#pragma once
// One QApplication for a desktop test executable, made on first use and kept until exit, with the
// product's fonts registered as at start-up.

#include <QApplication>

#include "app/desktop/fonts.h"

namespace velopad::testing {

inline QApplication& qtApplication() {
    static int argc = 1;
    static char name[] = "velopad-desktop-test";
    static char* argv[] = {name, nullptr};
    static QApplication* application = [] {
        auto* made = new QApplication(argc, argv);
        velopad::desktop::registerFonts();
        return made;
    }();
    return *application;
}

}  // namespace velopad::testing
