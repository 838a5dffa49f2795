#include "install/front_end.h"

#include <windows.h>
#include <commctrl.h>
#include <objbase.h>
#include <shellapi.h>

#include <exception>

#include "foundation/contract.h"
#include "foundation/process.h"
#include "foundation/registry.h"
#include "foundation/settings.h"
#include "foundation/text.h"
#include "foundation/unique.h"
#include "install/mode_change.h"

namespace dormalis {

void startFrontEnd(HINSTANCE module) {
    instance = module;
    INITCOMMONCONTROLSEX controls{sizeof(controls), ICC_STANDARD_CLASSES};
    InitCommonControlsEx(&controls);
    CoInitializeEx(nullptr, COINIT_APARTMENTTHREADED);
    settings.load();
    settings.language = languageForUi(GetUserDefaultUILanguage());
}

// Quoting that CommandLineToArgvW reads back exactly: backslashes only need doubling before a quote.
std::wstring joinArguments(const std::vector<std::wstring>& arguments) {
    std::wstring line;
    for (const std::wstring& argument : arguments) {
        if (!line.empty()) line += L' ';
        if (!argument.empty() && argument.find_first_of(L" \t\"") == std::wstring::npos) {
            line += argument;
            continue;
        }
        line += L'"';
        size_t backslashes = 0;
        for (wchar_t c : argument) {
            if (c == L'\\') {
                ++backslashes;
                continue;
            }
            line.append(c == L'"' ? backslashes * 2 + 1 : backslashes, L'\\');
            backslashes = 0;
            line += c;
        }
        line.append(backslashes * 2, L'\\');
        line += L'"';
    }
    return line;
}

unsigned languageForUi(unsigned short languageId) {
    switch (PRIMARYLANGID(languageId)) {
        case LANG_FRENCH:
            return 0;
        case LANG_GERMAN:
            return 2;
        case LANG_CHINESE:
            return 3;
        case LANG_SPANISH:
            return 4;
        case LANG_ITALIAN:
            return 5;
        default:
            return 1;
    }
}

namespace {

constexpr const wchar_t* ElevatedMark = L"--elevated";

}  // namespace

bool takeElevatedMark(std::vector<std::wstring>& arguments) {
    const auto before = arguments.size();
    std::erase(arguments, std::wstring(ElevatedMark));
    return arguments.size() != before;
}

int runElevated(const std::wstring& arguments, bool quiet) {
    const std::wstring marked = arguments.empty() ? ElevatedMark : arguments + L" " + ElevatedMark;
    return runElevatedCopy(nullptr, ownProgramPath(), marked, SW_SHOWNORMAL, quiet);
}

std::wstring stageText(InstallStep step) {
    switch (step) {
        case InstallStep::Stopping:
            return tr(L"Arrêt de la version en cours…", L"Stopping the running copy…",
                      L"Laufende Version wird beendet…", L"正在停止运行中的副本…", L"Deteniendo la copia en ejecución…",
                      L"Arresto della copia in esecuzione…");
        case InstallStep::Copying:
            return tr(L"Copie des fichiers…", L"Copying the files…", L"Dateien werden kopiert…", L"正在复制文件…",
                      L"Copiando los archivos…", L"Copia dei file…");
        case InstallStep::Registering:
            return tr(L"Enregistrement du service…", L"Registering the service…", L"Dienst wird registriert…",
                      L"正在注册服务…", L"Registrando el servicio…", L"Registrazione del servizio…");
        case InstallStep::Starting:
            return tr(L"Démarrage du service…", L"Starting the service…", L"Dienst wird gestartet…", L"正在启动服务…",
                      L"Iniciando el servicio…", L"Avvio del servizio…");
        case InstallStep::RestoringAdapters:
            return tr(L"Réactivation des cartes réseau…", L"Re-enabling the network adapters…",
                      L"Netzwerkadapter werden wieder aktiviert…", L"正在重新启用网络适配器…",
                      L"Reactivando los adaptadores de red…", L"Riattivazione delle schede di rete…");
        case InstallStep::Removing:
            return tr(L"Suppression des fichiers et du service…", L"Removing the files and the service…",
                      L"Dateien und Dienst werden entfernt…", L"正在删除文件和服务…",
                      L"Eliminando los archivos y el servicio…", L"Rimozione dei file e del servizio…");
    }
    return {};
}

void recordInstallError(const std::wstring& message) {
    try {
        writeString(HKEY_LOCAL_MACHINE, RegistryPath, LastInstallErrorValue, message);
    } catch (const std::exception&) {
        // Without the machine key nothing can carry the reason; the exit code still tells the failure.
    }
}

void clearInstallError() {
    RegDeleteKeyValueW(HKEY_LOCAL_MACHINE, RegistryPath, LastInstallErrorValue);
}

}  // namespace dormalis
