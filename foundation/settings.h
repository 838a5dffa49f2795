#pragma once

#include <windows.h>

namespace dormalis {

struct Settings {
    unsigned language = 0;  // 0 French, 1 English, 2 German, 3 Chinese, 4 Spanish, 5 Italian
    int density = 260;      // stars per field
    int speed = 5;          // star speed step
    unsigned displays = 0;  // 0 one field per display, 1 panorama, 2 primary display only
    COLORREF color = 0x00FFE4C8;
    bool firewall = true;  // machine-wide: firewall pause, or adapter pause when false

    void load();  // never fails: each value falls back on its own
    void save();  // throws the registry writer's errors; earlier values stay written
};

extern Settings settings;

inline constexpr int MinDensity = 40;
inline constexpr int MaxDensity = 600;
inline constexpr int MinSpeed = 1;
inline constexpr int MaxSpeed = 12;

}  // namespace dormalis
