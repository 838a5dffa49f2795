// The settings window's own texts, in the order French, English, German, Chinese, Spanish, Italian.
#include "ui/ui.h"

#include "foundation/text.h"

namespace dormalis::uitext {

std::wstring description() {
    return tr(
        L"Au démarrage de l’économiseur, Dormalis coupe le réseau selon le mode configuré dans l’application. Au "
        L"retour, il le rétablit automatiquement.",
        L"When the screen saver starts, Dormalis blocks the network using the mode configured in the app. It restores "
        L"the network automatically when you return.",
        L"Beim Start des Bildschirmschoners sperrt Dormalis das Netzwerk im Modus, der in der App eingestellt wurde. "
        L"Bei Ihrer Rückkehr wird es automatisch wiederhergestellt.",
        L"屏幕保护程序启动时，Dormalis 会按应用中配置的模式阻断网络。返回时会自动恢复网络。",
        L"Al iniciarse el protector, Dormalis bloquea la red según el modo configurado en la aplicación. Al volver, la "
        L"restablece automáticamente.",
        L"All’avvio del salvaschermo, Dormalis blocca la rete nella modalità configurata nell’app. Al ritorno, la "
        L"ripristina automaticamente.");
}

std::wstring installedLine() {
    return tr(L"Application installée — service Windows présent", L"Application installed — Windows service present",
              L"App installiert — Windows-Dienst vorhanden", L"应用已安装 — Windows 服务存在",
              L"Aplicación instalada — servicio de Windows presente", L"App installata — servizio Windows presente");
}

std::wstring stoppedLine() {
    return tr(L"Application installée — service Windows arrêté : aucune protection",
              L"Application installed — Windows service stopped: no protection",
              L"App installiert — Windows-Dienst gestoppt: kein Schutz", L"应用已安装 — Windows 服务已停止：无保护",
              L"Aplicación instalada — servicio de Windows detenido: sin protección",
              L"App installata — servizio Windows arrestato: nessuna protezione");
}

std::wstring enabledLine(bool enabled) {
    if (enabled) {
        return tr(L"Écran de veille Dormalis : activé", L"Dormalis screen saver: enabled",
                  L"Dormalis-Bildschirmschoner: aktiviert", L"Dormalis 屏幕保护程序：已启用",
                  L"Protector Dormalis: activado", L"Salvaschermo Dormalis: attivo");
    }
    return tr(L"Écran de veille Dormalis : non activé", L"Dormalis screen saver: not enabled",
              L"Dormalis-Bildschirmschoner: nicht aktiviert", L"Dormalis 屏幕保护程序：未启用",
              L"Protector Dormalis: no activado", L"Salvaschermo Dormalis: non attivo");
}

std::wstring idleCaption() {
    return tr(L"Délai d’inactivité (1 à 240 minutes)", L"Idle time (1 to 240 minutes)",
              L"Inaktivität (1 bis 240 Minuten)", L"空闲时间（1 至 240 分钟）", L"Inactividad (1 a 240 minutos)",
              L"Inattività (da 1 a 240 minuti)");
}

std::wstring displaysCaption() {
    return tr(L"Affichage multi-écrans", L"Multiple displays", L"Mehrere Bildschirme", L"多显示器", L"Varias pantallas",
              L"Più schermi");
}

std::wstring displayMode(int index) {
    switch (index) {
        case 0:
            return tr(L"Animation indépendante sur chaque écran", L"Independent animation on each display",
                      L"Unabhängige Animation pro Bildschirm", L"每个屏幕独立动画",
                      L"Animación independiente por pantalla", L"Animazione indipendente per schermo");
        case 1:
            return tr(L"Panorama sur tous les écrans", L"Panorama across all displays",
                      L"Panorama über alle Bildschirme", L"跨屏全景", L"Panorama en todas las pantallas",
                      L"Panorama su tutti gli schermi");
        default:
            return tr(L"Écran principal uniquement", L"Primary display only", L"Nur Hauptbildschirm", L"仅主屏幕",
                      L"Solo pantalla principal", L"Solo schermo principale");
    }
}

std::wstring modePrefix() {
    return tr(L"Mode configuré : ", L"Configured mode: ", L"Konfigurierter Modus: ", L"已配置模式：",
              L"Modo configurado: ", L"Modalità configurata: ");
}

std::wstring enable() {
    return tr(L"Activer Dormalis", L"Enable Dormalis", L"Dormalis aktivieren", L"启用 Dormalis", L"Activar Dormalis",
              L"Attiva Dormalis");
}

std::wstring disable() {
    return tr(L"Désactiver Dormalis", L"Disable Dormalis", L"Dormalis deaktivieren", L"停用 Dormalis",
              L"Desactivar Dormalis", L"Disattiva Dormalis");
}

std::wstring check() {
    return tr(L"Vérifier la configuration", L"Check configuration", L"Konfiguration prüfen", L"检查配置",
              L"Verificar configuración", L"Verifica configurazione");
}

std::wstring restore() {
    return tr(L"Rétablir le réseau…", L"Restore network…", L"Netzwerk wiederherstellen…", L"恢复网络…",
              L"Restaurar red…", L"Ripristina rete…");
}

std::wstring uninstallNote() {
    return tr(
        L"Désactiver l’écran de veille conserve l’application installée. Suppression complète : Paramètres Windows → "
        L"Applications.",
        L"Disabling the screen saver keeps the app installed. To uninstall: Windows Settings → Apps.",
        L"Beim Deaktivieren bleibt die App installiert. Deinstallation: Windows-Einstellungen → Apps.",
        L"停用屏幕保护程序不会卸载应用。卸载：Windows 设置 → 应用。",
        L"Desactivar el protector conserva la aplicación. Desinstalar: Configuración de Windows → Aplicaciones.",
        L"Disattivare il salvaschermo mantiene l’app installata. Disinstallazione: Impostazioni Windows → App.");
}

std::wstring previewCaption() {
    return tr(L"Aperçu sans coupure réseau", L"Preview without network interruption",
              L"Vorschau ohne Netzwerkunterbrechung", L"预览（不中断网络）", L"Vista previa sin cortar la red",
              L"Anteprima senza interrompere la rete");
}

std::wstring runtimeLine() {
    return tr(L"Application Windows native • Aucun runtime .NET requis",
              L"Native Windows application • No .NET runtime required",
              L"Native Windows-Anwendung • Keine .NET-Laufzeit erforderlich",
              L"原生 Windows 应用程序 • 无需 .NET 运行时", L"Aplicación nativa de Windows • No requiere .NET",
              L"Applicazione Windows nativa • Nessun runtime .NET richiesto");
}

std::wstring publisher() {
    return tr(L"Publié par Dormalis · dormalis.app", L"Published by Dormalis · dormalis.app",
              L"Herausgegeben von Dormalis · dormalis.app", L"发布者：Dormalis · dormalis.app",
              L"Publicado por Dormalis · dormalis.app", L"Pubblicato da Dormalis · dormalis.app");
}

std::wstring disabledMessage() {
    return tr(
        L"Dormalis n’est plus sélectionné comme écran de veille. L’application reste installée. Si les paramètres "
        L"d’écran de veille Windows étaient ouverts, fermez-les puis rouvrez-les pour actualiser l’affichage.",
        L"Dormalis is no longer selected as the screen saver. The app remains installed. Close and reopen any open "
        L"Windows screen saver settings to refresh the display.",
        L"Dormalis ist nicht mehr als Bildschirmschoner ausgewählt. Die App bleibt installiert. Bereits geöffnete "
        L"Windows-Bildschirmschonereinstellungen schließen und erneut öffnen.",
        L"Dormalis 已不再被选为屏幕保护程序，应用仍保留安装。请关闭并重新打开 Windows 屏幕保护程序设置以刷新显示。",
        L"Dormalis ya no está seleccionado como protector. La aplicación sigue instalada. Cierre y vuelva a abrir los "
        L"ajustes del protector de Windows para actualizar la pantalla.",
        L"Dormalis non è più selezionato come salvaschermo. L’app resta installata. Chiudere e riaprire le "
        L"impostazioni del salvaschermo di Windows per aggiornare la schermata.");
}

std::wstring minutesWarning() {
    return tr(L"Choisissez un délai de 1 à 240 minutes.", L"Choose 1 to 240 minutes.", L"Wählen Sie 1 bis 240 Minuten.",
              L"请选择 1 至 240 分钟。", L"Elija de 1 a 240 minutos.", L"Scegliere da 1 a 240 minuti.");
}

std::wstring restoreRequested() {
    return tr(
        L"Demande de restauration envoyée. Consultez « Vérifier la configuration » pour suivre l’état ; la "
        L"reconnexion peut prendre quelques secondes.",
        L"Recovery requested. Check configuration for status; reconnection can take a few seconds.",
        L"Wiederherstellung angefordert. Prüfen Sie den Status; die Verbindung kann einige Sekunden dauern.",
        L"已请求恢复。请检查配置状态；重新连接可能需要几秒钟。",
        L"Restauración solicitada. Compruebe el estado; la reconexión puede tardar unos segundos.",
        L"Ripristino richiesto. Controllare lo stato; la riconnessione può richiedere alcuni secondi.");
}

std::wstring restoreFailed() {
    return tr(
        L"La restauration n’a pas pu être demandée. Réessayez avec les droits administrateur ou redémarrez Windows.",
        L"Recovery request failed. Retry with administrator rights or restart Windows.",
        L"Wiederherstellung fehlgeschlagen. Als Administrator erneut versuchen oder Windows neu starten.",
        L"恢复请求失败。请使用管理员权限重试或重启 Windows。",
        L"Error al solicitar restauración. Reintente como administrador o reinicie Windows.",
        L"Richiesta di ripristino non riuscita. Riprovare come amministratore o riavviare Windows.");
}

}  // namespace dormalis::uitext
