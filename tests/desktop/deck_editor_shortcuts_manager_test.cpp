// The Shortcuts manager in the deck editor drives the real velopad-shortcuts tool: it lists the
// user's Shortcuts and creates, renames and edits them.

#include <gtest/gtest.h>

#include <QApplication>
#include <QLineEdit>
#include <QListWidget>
#include <QPushButton>
#include <QTest>
#include <QTimer>

#include "app/desktop/editor/shortcuts_manager_dialog.h"
#include "qt_application.h"
#include "tests/support/shortcut_test_support.h"

namespace velopad {
namespace {

const std::string standupId = "0A1B2C3D-4E5F-4A6B-8C7D-9E0F1A2B3C4D";

QStringList names(const QListWidget& list) {
    QStringList shown;
    for (int row = 0; row < list.count(); ++row) shown << list.item(row)->text();
    return shown;
}

// Presses the dialog's button named `name`, fills the form it opens (a modal dialog) with
// `fields` (accessible name → text) and accepts it.
void fillFormOpenedBy(QWidget& dialog, const QString& name,
                      const std::map<QString, QString>& fields) {
    QPushButton* press = nullptr;
    for (auto* button : dialog.findChildren<QPushButton*>()) {
        if (button->accessibleName() == name) press = button;
    }
    ASSERT_NE(press, nullptr) << name.toStdString();
    QTimer filler;
    filler.setInterval(10);
    QObject::connect(&filler, &QTimer::timeout, [&] {
        auto* form = qobject_cast<QDialog*>(QApplication::activeModalWidget());
        if (!form) return;
        for (auto* edit : form->findChildren<QLineEdit*>()) {
            if (const auto field = fields.find(edit->accessibleName()); field != fields.end()) {
                edit->setText(field->second);
            }
        }
        form->accept();
        filler.stop();
    });
    filler.start();
    ASSERT_TRUE(QTest::qWaitFor([&] { return press->isEnabled(); }, 10000));
    press->click();
}

TEST(ShortcutsManager, ListsCreatesRenamesAndEditsThroughTheTool) {
    testing::qtApplication();
    testing::ShortcutsSandbox sandbox;
    sandbox.writeShortcut(standupId, "Standup", "echo hi");

    desktop::ShortcutsManagerDialog dialog(QString::fromStdString(testing::shortcutsToolPath()));
    dialog.show();
    auto* list = dialog.findChild<QListWidget*>();
    ASSERT_NE(list, nullptr);
    const auto shows = [&](const QStringList& expected) {
        return QTest::qWaitFor([&] { return names(*list) == expected; }, 10000);
    };
    ASSERT_TRUE(shows({"Standup"}));

    fillFormOpenedBy(dialog, "New Shortcut\u2026",
                     {{"Name", "Deploy"}, {"Command", "make \"deploy all\""}});
    ASSERT_TRUE(shows({"Deploy", "Standup"}));

    list->setCurrentRow(1);
    fillFormOpenedBy(dialog, "Rename\u2026", {{"Name", "Morning standup"}});
    ASSERT_TRUE(shows({"Deploy", "Morning standup"}));
    EXPECT_EQ(list->item(1)->data(Qt::UserRole + 1).toString().toStdString(), standupId);

    list->setCurrentRow(1);
    fillFormOpenedBy(dialog, "Edit\u2026", {{"Command", "echo bye"}});
    const auto file = sandbox.shortcutsDirectory() / (standupId + ".desktop");
    EXPECT_TRUE(QTest::qWaitFor(
        [&] {
            const std::string text = testing::readTextFile(file);
            return text.find("Exec=echo bye") != std::string::npos &&
                   text.find("Name=Morning standup") != std::string::npos;
        },
        10000));
}

}  // namespace
}  // namespace velopad
