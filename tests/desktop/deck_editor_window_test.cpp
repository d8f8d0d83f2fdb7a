// The deck editor's window over a real deck store.

#include "app/desktop/editor/deck_editor_window.h"

#include <gtest/gtest.h>

#include <QAbstractButton>
#include <QAccessible>
#include <QAccessibleActionInterface>
#include <QApplication>
#include <QDragEnterEvent>
#include <QDropEvent>
#include <QMimeData>
#include <QTest>
#include <filesystem>
#include <memory>

#include "app/decks/deck_store.h"
#include "app/desktop/editor/deck_editor_window_presenter.h"
#include "app/desktop/editor/library_list.h"
#include "app/desktop/editor/phone_preview.h"
#include "protocol/deck_tile_factories.h"
#include "qt_application.h"
#include "tests/support/io_thread.h"
#include "tests/support/sandbox_fixture.h"

namespace velopad {
namespace {

namespace fs = std::filesystem;
using desktop::DeckEditorWindow;
using desktop::DeckEditorWindowPresenter;

Task<std::optional<fs::path>> installedAt(std::string bundleId) {
    co_return fs::path("/usr/share/applications") / (bundleId + ".desktop");
}

Task<std::vector<CatalogShortcut>> noShortcuts() { co_return std::vector<CatalogShortcut>{}; }

std::vector<AppBundleInfo> scan() {
    std::vector<AppBundleInfo> apps;
    for (int i = 1; i <= 6; ++i) {
        apps.push_back({"App " + std::to_string(i), "app." + std::to_string(i), std::nullopt});
    }
    apps.push_back({"Safari", "com.apple.Safari", "safari"});
    apps.push_back({"Terminal", "org.gnome.Terminal", "terminal"});
    return apps;
}

class DeckEditorWindowTest : public testing::SandboxTest {
  protected:
    DeckEditorWindowTest() { testing::qtApplication(); }
    ~DeckEditorWindowTest() override {
        presenter.reset();
        QCoreApplication::sendPostedEvents(nullptr, QEvent::DeferredDelete);
        io.drain();
    }

    DeckEditorContext makeContext() {
        DeckEditorContext context;
        context.executor = io.executor();
        context.pool = &io.pool();
        context.deckStore = &store;
        context.workspace.urlForApplication = [](std::string id) { return installedAt(id); };
        context.installedApps.scanApplicationBundles = scan;
        context.listShortcuts = [] { return noShortcuts(); };
        context.isPhoneConnected = [] { return false; };
        return context;
    }

    // Shows the editor loaded (no load may still be under way when the io thread ends).
    DeckEditorWindow& showLoaded() {
        if (!presenter) {
            presenter =
                std::make_unique<DeckEditorWindowPresenter>([this] { return makeContext(); });
        }
        presenter->show();
        DeckEditorWindow* window = presenter->window();
        EXPECT_TRUE(QTest::qWaitFor(
            [window] {
                const auto& state = window->shownState();
                return !state.tiles.empty() && !state.installedApps->empty() &&
                       state.shortcutsLoadState.kind != ShortcutsLoadState::Kind::loading;
            },
            10000));
        return *window;
    }

    test::IoThread io;
    DeckStore store{io.executor(), io.pool(), sandbox.root() / "decks.json",
                    [](std::string_view) {}};
    std::unique_ptr<DeckEditorWindowPresenter> presenter;
};

TEST_F(DeckEditorWindowTest, ACardDroppedOnSlotThreeMovesTheKeyAlreadyOnTheDeck) {
    std::vector<DeckTile> tiles;
    for (const auto& app : scan()) {
        tiles.push_back(appTile(static_cast<std::int64_t>(tiles.size()) + 1, app.label,
                                app.bundleId, app.iconName));
    }
    io.run(store.saveDeck(DeckCategoryID::streaming, DeckTemplate("streaming", "Mine", tiles),
                          makeContext().workspace));

    DeckEditorWindow& window = showLoaded();
    // The Safari card drags its bundle identifier as plain text.
    auto& library = window.libraryModel();
    const auto found = library.match(library.index(0), desktop::LibraryListModel::PayloadRole,
                                     "com.apple.Safari", 1, Qt::MatchExactly);
    ASSERT_EQ(found.size(), 1);
    std::unique_ptr<QMimeData> mime(library.mimeData(found));
    EXPECT_EQ(mime->formats(), QStringList{"text/plain"});

    desktop::KeySlot* slot3 = window.preview().slotAt(2);
    const QPoint centre = slot3->rect().center();
    QDragEnterEvent enter(centre, Qt::CopyAction, mime.get(), Qt::LeftButton, Qt::NoModifier);
    QApplication::sendEvent(slot3, &enter);
    EXPECT_TRUE(enter.isAccepted());

    QDropEvent drop(QPointF(centre), Qt::CopyAction, mime.get(), Qt::LeftButton, Qt::NoModifier);
    QApplication::sendEvent(slot3, &drop);
    ASSERT_TRUE(QTest::qWaitFor(
        [&] { return window.shownState().tiles[2].bundleId == "com.apple.Safari"; }, 5000));
    std::vector<std::string> order;
    for (const auto& tile : window.shownState().tiles) order.push_back(tile.bundleId);
    EXPECT_EQ(order, (std::vector<std::string>{"app.1", "app.2", "com.apple.Safari", "app.3",
                                               "app.4", "app.5", "app.6", "org.gnome.Terminal"}));
    EXPECT_EQ(slot3->accessibleName(), "Safari");
    EXPECT_EQ(window.shownState().syncLabel(), "Unsaved");
}

// What a screen reader finds under each name, as AT-SPI reads it through Qt's accessibility.
QAccessibleInterface* findByName(QAccessibleInterface* root, const QString& name) {
    if (!root) return nullptr;
    if (root->text(QAccessible::Name) == name && !root->state().invisible) return root;
    for (int i = 0; i < root->childCount(); ++i) {
        if (auto* found = findByName(root->child(i), name)) return found;
    }
    return nullptr;
}

// Presses the control a screen reader finds under `name`, as AT-SPI's "Press" action does.
void press(QAccessibleInterface* root, const QString& name) {
    QAccessibleInterface* control = findByName(root, name);
    ASSERT_TRUE(control && control->actionInterface()) << name.toStdString();
    control->actionInterface()->doAction(QAccessibleActionInterface::pressAction());
}

TEST_F(DeckEditorWindowTest, ControlsAreNamedByTheirTextsFollowTheCategoryAndStayInOneWindow) {
    DeckEditorWindow& window = showLoaded();
    for (QAbstractButton* button : window.findChildren<QAbstractButton*>()) {
        if (!button->text().isEmpty()) {
            EXPECT_EQ(button->accessibleName(), button->text());
        }
    }
    QAccessibleInterface* root = QAccessible::queryAccessibleInterface(&window);
    const QString notice = "The iPhone shows the Streaming deck only for now.";
    EXPECT_EQ(findByName(root, notice), nullptr);
    press(root, "Gaming");
    ASSERT_TRUE(QTest::qWaitFor(
        [&] { return window.shownState().selectedCategory == DeckCategoryID::gaming; }, 5000));
    EXPECT_NE(findByName(root, "Reset to Gaming defaults"), nullptr);
    EXPECT_NE(findByName(root, notice), nullptr);

    press(root, "Actions");
    ASSERT_TRUE(QTest::qWaitFor(
        [&] { return window.shownState().libraryTab == LibraryTab::actions; }, 5000));
    // Cards are list items named by their titles (what the AT-SPI bridge reads for each row).
    auto& cards = window.libraryModel();
    ASSERT_EQ(cards.rowCount(), 3);
    EXPECT_EQ(cards.data(cards.index(0), Qt::AccessibleTextRole), "Vol \u2212");

    presenter->show();  // the open window, not a second one
    EXPECT_EQ(presenter->window(), &window);
    window.close();
    QCoreApplication::sendPostedEvents(nullptr, QEvent::DeferredDelete);
    EXPECT_EQ(presenter->window(), nullptr);
}

}  // namespace
}  // namespace velopad
