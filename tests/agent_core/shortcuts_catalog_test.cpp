#include "agent_core/shortcuts_catalog.h"

#include <gtest/gtest.h>

#include <memory>

#include "agent_core/shortcut_text.h"
#include "tests/support/shortcut_test_support.h"

namespace velopad {
namespace {

using testing::FakeProcessRunner;
using testing::ShortcutsSandbox;

constexpr const char* kFirst = "1B4E28BA-2FA1-11D2-883F-0016D3CCA427";
constexpr const char* kSecond = "a3bb189e-8bf9-3888-9912-ace4e6543002";

TEST(ShortcutsCatalogParseTest, ReadsOneLine) {
    const std::string id = kFirst;
    const std::pair<std::string, std::optional<CatalogShortcut>> cases[] = {
        {"Morning Routine (" + id + ")", CatalogShortcut{"Morning Routine", id}},
        {"Call Mom (work) (" + id + ")", CatalogShortcut{"Call Mom (work)", id}},
        {"  Padded  ( " + id + " )  ", CatalogShortcut{"Padded", id}},
        {"Name(" + id + ")", CatalogShortcut{"Name", id}},
        {"\u00A0Spaced\u3000(" + id + ")\u2003", CatalogShortcut{"Spaced", id}},
        {"(" + id + ")", std::nullopt},
        {"Name (not-a-uuid)", std::nullopt},
        {"Name (" + id + "0)", std::nullopt},
        {"Name (" + id.substr(1) + ")", std::nullopt},
        {"Name (1B4E28BA-2FA1-11D2-883F-0016D3CCA42G)", std::nullopt},
        {"Name (" + id + ") trailing", std::nullopt},
        {"", std::nullopt},
    };
    for (const auto& [line, expected] : cases)
        EXPECT_EQ(ShortcutsCatalog::parseListLine(line), expected) << line;
}

TEST(ShortcutsCatalogParseTest, ReadsWholeOutputInOrderWhateverTheLineBreaks) {
    const std::string first = std::string("B (") + kFirst + ")";
    const std::string second = std::string("A (") + kSecond + ")";
    const std::vector<CatalogShortcut> expected = {{"B", kFirst}, {"A", kSecond}, {"B", kFirst}};
    EXPECT_EQ(ShortcutsCatalog::parseListOutput(first + "\r\n\r\n" + second + "\r\n  \r\n" + first),
              expected);
    EXPECT_EQ(
        ShortcutsCatalog::parseListOutput(first + "\u2028" + second + "\u0085" + first + "\f"),
        expected);
    EXPECT_EQ(ShortcutsCatalog::parseListOutput("garbage\n" + first + "\n(" + kFirst + ")\n" +
                                                second + "\n" + first),
              expected);
    EXPECT_TRUE(ShortcutsCatalog::parseListOutput("").empty());
    EXPECT_EQ(splitAtLineBreaks("a\n\nb\r\n"), (std::vector<std::string_view>{"a", "b"}));
    EXPECT_TRUE(splitAtLineBreaks("\r\n").empty());
}

TEST(ShortcutsCatalogParseTest, FindsTheHeroRecipe) {
    const CatalogShortcut fuzzy{"my voice in cursor helper", kFirst};
    const CatalogShortcut preferred{"Velopad \u2014 Voice in Cursor", kSecond};
    const CatalogShortcut other{"Timer", kFirst};
    EXPECT_EQ(ShortcutsCatalog::findHero({other, fuzzy, preferred}), preferred);
    EXPECT_EQ(ShortcutsCatalog::findHero({other, fuzzy}), fuzzy);
    EXPECT_EQ(ShortcutsCatalog::findHero({other, {"VOICE to CURSOR", kFirst}})->name,
              "VOICE to CURSOR");
    EXPECT_EQ(ShortcutsCatalog::findHero({other, {"Voice memo", kFirst}}), std::nullopt);
}

class ShortcutsCatalogListTest : public ::testing::Test {
  protected:
    std::vector<CatalogShortcut> list(const std::string& executable,
                                      std::shared_ptr<ProcessRunning> runner) {
        return io.run(ShortcutsCatalog(executable, std::move(runner), 15).list());
    }

    test::IoThread io;
    ShortcutsSandbox sandbox;
};

TEST_F(ShortcutsCatalogListTest, AMissingFailingOrTimedOutToolIsReported) {
    const auto expectError = [&](const std::string& executable, const ProcessRunResult& result,
                                 ShortcutsCatalogErrorCode code, const char* text) {
        try {
            list(executable, std::make_shared<FakeProcessRunner>(result));
            ADD_FAILURE() << text;
        } catch (const ShortcutsCatalogError& error) {
            EXPECT_EQ(error.code(), code);
            EXPECT_STREQ(error.what(), text);
        }
    };
    const std::string listed = std::string("X (") + kFirst + ")\n";
    const auto plainFile = sandbox.root() / "not-executable";
    testing::writeTextFile(plainFile, "x");
    for (const auto& missing : {plainFile, sandbox.root()}) {
        expectError(missing, {0, listed, "", false}, ShortcutsCatalogErrorCode::executableMissing,
                    "The shortcuts CLI is not available on this Mac.");
    }
    const std::pair<ProcessRunResult, const char*> failures[] = {
        {{1, "", "", false}, "Could not list Shortcuts (exit 1)."},
        {{2, "", "\n  database locked \n", false}, "Could not list Shortcuts: database locked"},
        {{0, listed, "", true}, "Could not list Shortcuts (exit 0)."},
    };
    for (const auto& [result, text] : failures) {
        expectError(testing::shortcutsToolPath(), result, ShortcutsCatalogErrorCode::listFailed,
                    text);
    }
}

}  // namespace
}  // namespace velopad
