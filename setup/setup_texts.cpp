#include "setup/setup_texts.h"

#include "foundation/text.h"

namespace dormalis::setuptext {

std::wstring folderCaption() {
    return tr(L"Dossier d’installation", L"Installation folder", L"Installationsordner", L"安装文件夹",
              L"Carpeta de instalación", L"Cartella di installazione");
}

std::wstring browse() {
    return tr(L"Parcourir…", L"Browse…", L"Durchsuchen…", L"浏览…", L"Examinar…", L"Sfoglia…");
}

std::wstring cancel() {
    return tr(L"Annuler", L"Cancel", L"Abbrechen", L"取消", L"Cancelar", L"Annulla");
}

std::wstring close() {
    return tr(L"Fermer", L"Close", L"Schließen", L"关闭", L"Cerrar", L"Chiudi");
}

std::wstring adminNote() {
    return tr(
        L"L’installation a besoin des droits administrateur, car elle installe un service Windows. "
        L"Ensuite, chaque utilisateur peut se servir de Dormalis sans ces droits.",
        L"Installing needs administrator rights, because it installs a Windows service. "
        L"Afterwards every user can use Dormalis without them.",
        L"Die Installation benötigt Administratorrechte, weil sie einen Windows-Dienst einrichtet. "
        L"Danach kann jeder Benutzer Dormalis ohne diese Rechte verwenden.",
        L"安装需要管理员权限，因为它会安装一个 Windows 服务。之后，每个用户都无需这些权限即可使用 Dormalis。",
        L"La instalación necesita derechos de administrador, porque instala un servicio de Windows. "
        L"Después, cualquier usuario puede usar Dormalis sin ellos.",
        L"L’installazione richiede i diritti di amministratore, perché installa un servizio Windows. "
        L"In seguito ogni utente può usare Dormalis senza di essi.");
}

std::wstring installedIn(const std::wstring& folder, bool firewall) {
    const std::wstring mode = text(firewall ? "setup.networkModeFirewall" : "setup.networkModeAdapters");
    return tr(L"Dormalis est installé dans ", L"Dormalis is installed in ", L"Dormalis ist installiert in ",
              L"Dormalis 已安装到 ", L"Dormalis está instalado en ", L"Dormalis è installato in ") +
           folder + L"\r\n" + tr(L"Mode : ", L"Mode: ", L"Modus: ", L"模式：", L"Modo: ", L"Modalità: ") + mode +
           L"\r\n" +
           tr(L"Dormalis se trouve maintenant dans le menu Démarrer.", L"Dormalis is now in the Start menu.",
              L"Dormalis ist jetzt im Startmenü.", L"Dormalis 现已在“开始”菜单中。",
              L"Dormalis ya está en el menú Inicio.", L"Dormalis è ora nel menu Start.");
}

std::wstring failed(const std::wstring& reason) {
    return tr(L"L’installation a échoué : ", L"Installation failed: ", L"Die Installation ist fehlgeschlagen: ",
              L"安装失败：", L"La instalación ha fallado: ", L"Installazione non riuscita: ") +
           reason;
}

std::wstring openProgram() {
    return tr(L"Ouvrir Dormalis", L"Open Dormalis", L"Dormalis öffnen", L"打开 Dormalis", L"Abrir Dormalis",
              L"Apri Dormalis");
}

std::wstring enableStarts() {
    return tr(L"La protection commence quand vous cliquez sur « Activer Dormalis » dans Dormalis.",
              L"The protection starts when you click “Enable Dormalis” in Dormalis.",
              L"Der Schutz beginnt, wenn Sie in Dormalis auf „Dormalis aktivieren“ klicken.",
              L"在 Dormalis 中点击“启用 Dormalis”后，保护即开始。",
              L"La protección empieza cuando hace clic en «Activar Dormalis» en Dormalis.",
              L"La protezione inizia quando si fa clic su «Attiva Dormalis» in Dormalis.");
}

std::wstring openFromStartMenu() {
    return tr(L"Ouvrez Dormalis depuis le menu Démarrer.", L"Open Dormalis from the Start menu.",
              L"Öffnen Sie Dormalis über das Startmenü.", L"请从“开始”菜单打开 Dormalis。",
              L"Abra Dormalis desde el menú Inicio.", L"Aprire Dormalis dal menu Start.");
}

}  // namespace dormalis::setuptext
