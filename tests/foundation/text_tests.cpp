#include <gtest/gtest.h>

#include <algorithm>
#include <cstring>
#include <set>
#include <string>

#include "foundation/settings.h"
#include "foundation/text.h"

namespace dormalis {
namespace {

class TextTest : public ::testing::Test {
  protected:
    void TearDown() override { settings.language = 0; }
};

TEST_F(TextTest, LookupIsExactAndCaseSensitive) {
    settings.language = 0;
    EXPECT_EQ(text("dialog.journey"), L"Voyage dans l\u2019espace");
    settings.language = 3;
    EXPECT_EQ(text("dialog.journey"), L"\u592A\u7A7A\u4E4B\u65C5");
    EXPECT_EQ(text("Dialog.journey"), L"");
    EXPECT_EQ(text("dialog"), L"");
    EXPECT_EQ(text("dialog.journeyx"), L"");
    EXPECT_EQ(text(""), L"");
    settings.language = 1;
    EXPECT_EQ(text("setup.installedWithMode"), L"Status: installed and service available ({0}).");
}

TEST_F(TextTest, TrPicksTheArgumentOfTheCurrentLanguage) {
    const wchar_t* six[6] = {L"fr", L"en", L"de", L"zh", L"es", L"it"};
    for (unsigned language = 0; language < 6; ++language) {
        settings.language = language;
        EXPECT_EQ(tr(six[0], six[1], six[2], six[3], six[4], six[5]), six[language]);
    }
    settings.language = 2;
    EXPECT_EQ(text("common.cancel"), L"Abbrechen");
}

TEST_F(TextTest, EveryRowIsCompleteInEveryLanguageWithItsPlaceholdersAndBreaks) {
    std::set<std::string> keys;
    for (const Translation& row : translations) {
        EXPECT_TRUE(keys.insert(row.key).second) << "duplicate key " << row.key;
        const std::wstring english = row.texts[1];
        const bool placeholder = english.find(L"{0}") != std::wstring::npos;
        const auto breaks = [](const std::wstring& s) {
            size_t count = 0;
            for (size_t at = s.find(L"\r\n"); at != std::wstring::npos; at = s.find(L"\r\n", at + 2))
                ++count;
            return count;
        };
        for (int language = 0; language < 6; ++language) {
            const std::wstring translated = row.texts[language];
            EXPECT_FALSE(translated.empty()) << row.key << " in language " << language;
            EXPECT_EQ(translated.find(L"{0}") != std::wstring::npos, placeholder) << row.key << " " << language;
            EXPECT_EQ(breaks(translated), breaks(english)) << row.key << " " << language;
            EXPECT_EQ(static_cast<size_t>(std::count(translated.begin(), translated.end(), L'\n')), breaks(translated))
                << "a lone line feed in " << row.key;
        }
    }
    EXPECT_EQ(keys.size(), 52u);
    EXPECT_STREQ(translations[0].key, "language.caption");
    EXPECT_STREQ(translations[51].key, "about.runtime");
}

TEST_F(TextTest, TypographicCharactersSurviveAsUtf16) {
    settings.language = 1;
    const std::wstring hint = text("setup.networkModeAdaptersHint");
    ASSERT_NE(hint.find(L"Wi"), std::wstring::npos);
    EXPECT_EQ(static_cast<unsigned>(hint[hint.find(L"Wi") + 2]), 0x2011u) << "non-breaking hyphen";
    EXPECT_NE(text("config.checking").find(L'\u2026'), std::wstring::npos) << "ellipsis";
    EXPECT_NE(text("about.runtime").find(L'\u2014'), std::wstring::npos) << "em dash";
    settings.language = 3;
    const std::wstring caption = text("language.caption");
    ASSERT_EQ(caption.size(), 2u);
    EXPECT_EQ(static_cast<unsigned>(caption[0]), 0x8BEDu);
    EXPECT_EQ(static_cast<unsigned>(caption[1]), 0x8A00u);
    EXPECT_NE(text("setup.installedWithMode").find(L'\uFF08'), std::wstring::npos) << "full-width parenthesis";
    EXPECT_EQ(std::wstring(languageNames[0]), L"Fran\u00E7ais");
    EXPECT_EQ(std::wstring(languageNames[3]), L"\u4E2D\u6587");
}

}  // namespace
}  // namespace dormalis
