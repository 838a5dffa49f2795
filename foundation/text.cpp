#include "foundation/text.h"

#include <cstring>

#include "foundation/settings.h"

namespace dormalis {

namespace {

// The loaders keep the index in range; this guard only keeps a stray value from reading past the table.
unsigned languageIndex() {
    return settings.language < 6 ? settings.language : 5;
}

}  // namespace

const wchar_t* const languageNames[6] = {L"Français", L"English", L"Deutsch", L"中文", L"Español", L"Italiano"};

std::wstring tr(const wchar_t* fr, const wchar_t* en, const wchar_t* de, const wchar_t* zh, const wchar_t* es,
                const wchar_t* it) {
    const wchar_t* choices[6] = {fr, en, de, zh, es, it};
    return choices[languageIndex()];
}

std::wstring text(const char* key) {
    const size_t length = std::strlen(key);
    for (const Translation& row : translations) {
        if (std::strlen(row.key) == length && std::memcmp(row.key, key, length) == 0) {
            return row.texts[languageIndex()];
        }
    }
    return {};
}

}  // namespace dormalis
