#pragma once

// Control identifiers of the setup window; the system tests reach the controls by them.
namespace dormalis::setup_controls {

inline constexpr int Subtitle = 100;
inline constexpr int Status = 101;
inline constexpr int Folder = 102;
inline constexpr int FolderMessage = 103;
inline constexpr int ModeTitle = 104;
inline constexpr int Firewall = 105;
inline constexpr int FirewallHint = 106;
inline constexpr int Adapters = 107;
inline constexpr int AdaptersHint = 108;
inline constexpr int AdminNote = 109;
inline constexpr int Install = 110;
inline constexpr int Browse = 111;
inline constexpr int Cancel = 112;
inline constexpr int Progress = 113;  // the stage under way, then the result
inline constexpr int FolderCaption = 114;
inline constexpr int Content = 115;  // the panel holding every control but Install and Cancel

}  // namespace dormalis::setup_controls
