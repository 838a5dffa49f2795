#pragma once

#include <string>

namespace dormalis {

struct Translation {
    const char* key;
    const wchar_t* texts[6];  // French, English, German, Chinese, Spanish, Italian
};

inline constexpr int TranslationCount = 52;
extern const Translation translations[TranslationCount];
extern const wchar_t* const languageNames[6];

// The argument for the current language of `settings`.
std::wstring tr(const wchar_t* fr, const wchar_t* en, const wchar_t* de, const wchar_t* zh, const wchar_t* es,
                const wchar_t* it);

// The text of `key` in the current language; empty when no row has exactly that key.
std::wstring text(const char* key);

}  // namespace dormalis
