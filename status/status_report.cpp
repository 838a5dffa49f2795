#include "status/status_report.h"

#include <windows.h>

#include <cwchar>

#include "foundation/contract.h"
#include "foundation/registry.h"
#include "foundation/service_queries.h"
#include "foundation/settings.h"
#include "foundation/text.h"
#include "registration/saver_selection.h"

namespace dormalis {

namespace {

std::wstring notSelectedLine() {
    return tr(L"Dormalis n’est pas sélectionné comme écran de veille.",
              L"Dormalis is not selected as the screen saver.", L"Dormalis ist nicht als Bildschirmschoner ausgewählt.",
              L"未选择 Dormalis 作为屏幕保护程序。", L"Dormalis no está seleccionado como protector de pantalla.",
              L"Dormalis non è selezionato come salvaschermo.");
}

std::wstring unverifiedLine() {
    return tr(L"Dormalis est sélectionné, mais son activation n’a pas pu être vérifiée.",
              L"Dormalis is selected, but activation could not be verified.",
              L"Dormalis ist ausgewählt, die Aktivierung konnte jedoch nicht geprüft werden.",
              L"已选择 Dormalis，但无法确认是否启用。",
              L"Dormalis está seleccionado, pero no se pudo comprobar su activación.",
              L"Dormalis è selezionato, ma non è stato possibile verificarne l’attivazione.");
}

std::wstring disabledLine() {
    return tr(L"Dormalis est sélectionné, mais le démarrage automatique de l’écran de veille est désactivé.",
              L"Dormalis is selected, but automatic screen saver activation is disabled.",
              L"Dormalis ist ausgewählt, der automatische Start ist jedoch deaktiviert.",
              L"已选择 Dormalis，但屏幕保护程序的自动启动已禁用。",
              L"Dormalis está seleccionado, pero el inicio automático está desactivado.",
              L"Dormalis è selezionato, ma l’avvio automatico è disattivato.");
}

std::wstring configuredLine() {
    return tr(L"Dormalis est bien configuré et activé comme écran de veille.",
              L"Dormalis is configured and enabled as the screen saver.",
              L"Dormalis ist als Bildschirmschoner eingerichtet und aktiviert.",
              L"Dormalis 已配置并启用为屏幕保护程序。",
              L"Dormalis está configurado y activado como protector de pantalla.",
              L"Dormalis è configurato e attivato come salvaschermo.");
}

std::wstring idleUnknownText() {
    return tr(L"Délai d’inactivité indisponible.", L"Idle timeout unavailable.", L"Inaktivitätsdauer nicht verfügbar.",
              L"无法读取空闲时间。", L"Tiempo de inactividad no disponible.", L"Tempo di inattività non disponibile.");
}

std::wstring idlePrefix() {
    return tr(L"Délai d’inactivité avant lancement : ", L"Idle time before activation: ",
              L"Inaktivitätsdauer bis zum Start: ", L"启动前的空闲时间：", L"Tiempo de inactividad antes del inicio: ",
              L"Tempo di inattività prima dell’avvio: ");
}

std::wstring serviceUnavailableText() {
    return tr(L"Service indisponible — état du réseau inconnu", L"Service unavailable — network state unknown",
              L"Dienst nicht verfügbar — Netzwerkstatus unbekannt", L"服务不可用 — 网络状态未知",
              L"Servicio no disponible — estado desconocido", L"Servizio non disponibile — stato sconosciuto");
}

// The record's UTC time in the local time of this computer, to the minute; as written when it cannot be read.
std::wstring localTime(const std::wstring& utc) {
    SYSTEMTIME time{}, local{};
    unsigned year = 0, month = 0, day = 0, hour = 0, minute = 0, second = 0;
    if (swscanf(utc.c_str(), L"%4u-%2u-%2uT%2u:%2u:%2uZ", &year, &month, &day, &hour, &minute, &second) != 6)
        return utc;
    time = {static_cast<WORD>(year),   static_cast<WORD>(month),  0, static_cast<WORD>(day), static_cast<WORD>(hour),
            static_cast<WORD>(minute), static_cast<WORD>(second), 0};
    if (!SystemTimeToTzSpecificLocalTime(nullptr, &time, &local)) return utc;
    wchar_t text[32] = {};
    swprintf(text, 32, L"%04u-%02u-%02u %02u:%02u", local.wYear, local.wMonth, local.wDay, local.wHour, local.wMinute);
    return text;
}

std::wstring stateLabel(DWORD state) {
    switch (state) {
        case NetworkReady:
            return tr(L"En attente — non bloqué", L"Ready — not blocked", L"Bereit — nicht blockiert", L"就绪 — 未阻断",
                      L"Listo — sin bloqueo", L"Pronto — non bloccato");
        case NetworkBlocked:
            return tr(L"Coupure active", L"Blocked", L"Blockiert", L"已阻断", L"Bloqueado", L"Bloccato");
        case NetworkRestoring:
            return tr(L"Restauration en cours", L"Restoring", L"Wiederherstellung", L"正在恢复", L"Restaurando",
                      L"Ripristino");
        default:
            return tr(L"Erreur — vérifier l’état", L"Error — check status", L"Fehler — Status prüfen",
                      L"错误 — 检查状态", L"Error — comprobar estado", L"Errore — verificare stato");
    }
}

std::wstring duration(UINT seconds) {
    const std::wstring minuteUnit = tr(L" min", L" min", L" min", L" 分钟", L" min", L" min");
    const std::wstring secondUnit = tr(L" s", L" s", L" s", L" 秒", L" s", L" s");
    std::wstring result;
    if (seconds >= 60) result = std::to_wstring(seconds / 60) + minuteUnit;
    if (seconds % 60 != 0) {
        if (!result.empty()) result += L" ";
        result += std::to_wstring(seconds % 60) + secondUnit;
    }
    return result;
}

std::wstring selectionLines() {
    if (saverPolicy() != SaverPolicy::None) return managedSaverLine();
    if (!isDormalisSelected()) return notSelectedLine();
    BOOL active = FALSE;
    UINT timeout = 0;
    const bool activeKnown = SystemParametersInfoW(SPI_GETSCREENSAVEACTIVE, 0, &active, 0) != FALSE;
    const bool timeoutKnown = SystemParametersInfoW(SPI_GETSCREENSAVETIMEOUT, 0, &timeout, 0) != FALSE;
    if (!activeKnown) return unverifiedLine();
    if (!active || (timeoutKnown && timeout == 0)) return disabledLine();
    return configuredLine() + L"\n" + (timeoutKnown ? idlePrefix() + duration(timeout) : idleUnknownText());
}

}  // namespace

std::wstring networkModeLabel() {
    if (modeConfigured()) {
        return text(settings.firewall ? "setup.networkModeFirewall" : "setup.networkModeAdapters");
    }
    return tr(L"mode à choisir à la première activation", L"choose mode on first activation",
              L"Modus bei erster Aktivierung wählen", L"首次启用时选择模式", L"modo pendiente de elegir al activar",
              L"modalità da scegliere alla prima attivazione");
}

std::wstring managedSaverLine() {
    return tr(L"L’écran de veille est géré par votre organisation, qui ne lance pas Dormalis.",
              L"The screen saver is managed by your organization, which does not start Dormalis.",
              L"Der Bildschirmschoner wird von Ihrer Organisation verwaltet, die Dormalis nicht startet.",
              L"屏幕保护程序由您的组织管理，不会启动 Dormalis。",
              L"El protector de pantalla lo administra su organización, que no inicia Dormalis.",
              L"Il salvaschermo è gestito dalla tua organizzazione, che non avvia Dormalis.");
}

std::wstring failedPauseLine() {
    const FailedPause failed = lastFailedPause();
    if (failed.time.empty()) return {};
    std::wstring line = tr(L"Dernière coupure impossible : ", L"Last network cut that failed: ",
                           L"Zuletzt fehlgeschlagene Unterbrechung: ", L"上次未能断开网络：", L"Último corte fallido: ",
                           L"Ultima interruzione non riuscita: ") +
                        localTime(failed.time);
    if (failed.mode == L"firewall" || failed.mode == L"adapters")
        line += L" — " + text(failed.mode == L"firewall" ? "setup.networkModeFirewall" : "setup.networkModeAdapters");
    return line + L" — " + failed.reason;
}

std::wstring networkStatus() {
    settings.load();
    std::wstring status = selectionLines() + L"\n\n";
    if (!serviceRunning()) {
        status += serviceUnavailableText();
    } else {
        const DWORD state = readDword(HKEY_LOCAL_MACHINE, RegistryPath, NetworkStateValue, NetworkError);
        status += networkModeLabel() + L"\n" + stateLabel(state);
    }
    const std::wstring failed = failedPauseLine();
    return failed.empty() ? status : status + L"\n" + failed;
}

std::wstring configurationReport() {
    std::wstring report = networkStatus();
    const std::wstring saverFile = installedFile(SaverFileName);
    // Attributes alone decide: the service checks the path, not what kind of entry it is.
    const bool present = GetFileAttributesW(saverFile.c_str()) != INVALID_FILE_ATTRIBUTES;
    report += L"\n\n";
    report += tr(L"Fichier écran de veille : ", L"Screen saver file: ", L"Bildschirmschonerdatei: ",
                 L"屏幕保护程序文件：", L"Archivo del protector: ", L"File salvaschermo: ");
    report += present ? tr(L"présent", L"present", L"vorhanden", L"存在", L"presente", L"presente")
                      : tr(L"manquant — réinstaller", L"missing — reinstall", L"fehlt — neu installieren",
                           L"缺失 — 请重新安装", L"falta — reinstalar", L"mancante — reinstallare");
    report += L"\n";
    report += tr(L"Service Windows : ", L"Windows service: ", L"Windows-Dienst: ", L"Windows 服务：",
                 L"Servicio de Windows: ", L"Servizio Windows: ");
    report += serviceRunning()
                  ? tr(L"en cours d’exécution", L"running", L"aktiv", L"正在运行", L"en ejecución", L"in esecuzione")
                  : tr(L"arrêté ou absent", L"stopped or missing", L"gestoppt oder fehlt", L"已停止或不存在",
                       L"detenido o ausente", L"arrestato o assente");
    report += L"\n\n";
    report +=
        tr(L"Vérification locale uniquement : aucune coupure et aucun test de connexion Internet. En cas de "
           L"problème, utilisez « Rétablir le réseau » dans l’application.",
           L"Local checks only: no network interruption or Internet connectivity test. If needed, use Restore "
           L"network in the app.",
           L"Nur lokale Prüfung: keine Unterbrechung oder Internetprüfung. Bei Bedarf Netzwerk in der App "
           L"wiederherstellen.",
           L"仅本地检查：不会中断网络或测试互联网连接。如有问题，请在应用中恢复网络。",
           L"Solo comprobaciones locales: sin cortes ni prueba de Internet. Si es necesario, restaure la red "
           L"desde la aplicación.",
           L"Solo controlli locali: nessuna interruzione o prova Internet. Se necessario, ripristinare la rete "
           L"dall’app.");
    return report;
}

}  // namespace dormalis
