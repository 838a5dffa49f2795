#pragma once

#include <string>

#include "install/admin.h"

// The setup window's own texts in the current language.
namespace dormalis::setuptext {

std::wstring folderCaption();
std::wstring browse();
std::wstring cancel();
std::wstring close();
std::wstring adminNote();
std::wstring installedIn(const std::wstring& folder, bool firewall);
std::wstring failed(const std::wstring& reason);
std::wstring openProgram();
std::wstring enableStarts();
std::wstring openFromStartMenu();

}  // namespace dormalis::setuptext
