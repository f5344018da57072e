#include "platform/linux/qt/XdgDesktop.h"

#include <QDesktopServices>
#include <QProcess>
#include <QStandardPaths>
#include <QUrl>

namespace larkspire::linux_desktop {
namespace {

struct Command {
    const char* program;
    QStringList arguments;
};

// The desktop's own settings page for each privacy pane the agent names, by desktop.
struct PaneCommands {
    const char* paneSuffix;
    std::vector<Command> gnome, kde, xfce, anywhere;
};

const std::vector<PaneCommands>& paneTable() {
    static const std::vector<PaneCommands> table = {
        {"Privacy_Microphone",
         {{"gnome-control-center", {"sound"}}},
         {{"systemsettings", {"kcm_pulseaudio"}},
          {"kcmshell6", {"kcm_pulseaudio"}},
          {"kcmshell5", {"kcm_pulseaudio"}}},
         {{"pavucontrol", {"--tab=4"}}},
         // The sound mixer's input tab where the desktop has no panel of its own.
         {{"pavucontrol", {"--tab=4"}}, {"pavucontrol-qt", {"--tab=4"}}}},
        {"Privacy_Accessibility",
         {{"gnome-control-center", {"universal-access"}}},
         {{"systemsettings", {"kcm_access"}},
          {"kcmshell6", {"kcm_access"}},
          {"kcmshell5", {"kcm_access"}}},
         {{"xfce4-accessibility-settings", {}}},
         {}},
        // Where the dictation shortcut is: GNOME's keyboard panel lists the shortcuts; KDE
        // keeps them on its Shortcuts page (kcm_keyboard is the layout page).
        {"Privacy_ListenEvent",
         {{"gnome-control-center", {"keyboard"}}},
         {{"systemsettings", {"kcm_keys"}},
          {"kcmshell6", {"kcm_keys"}},
          {"kcmshell5", {"kcm_keys"}}},
         {{"xfce4-keyboard-settings", {}}},
         {}},
        {"Privacy_ScreenCapture", {{"gnome-control-center", {"privacy"}}}, {}, {}, {}},
    };
    return table;
}

bool desktopIs(const QString& name) {
    const QStringList current = qEnvironmentVariable("XDG_CURRENT_DESKTOP").split(':');
    return current.contains(name, Qt::CaseInsensitive);
}

bool startFirst(const std::vector<Command>& commands) {
    for (const Command& c : commands) {
        const QString program = QStandardPaths::findExecutable(c.program);
        if (!program.isEmpty() && QProcess::startDetached(program, c.arguments)) {
            return true;
        }
    }
    return false;
}

}  // namespace

bool XdgDesktop::openSettingsPane(const std::string& paneUrl) {
    const QString u = QString::fromStdString(paneUrl);
    for (const PaneCommands& pane : paneTable()) {
        if (!u.endsWith(pane.paneSuffix)) {
            continue;
        }
        if ((desktopIs("GNOME") || desktopIs("Unity") || desktopIs("Budgie")) &&
            startFirst(pane.gnome)) {
            return true;
        }
        if (desktopIs("KDE") && startFirst(pane.kde)) {
            return true;
        }
        if (desktopIs("XFCE") && startFirst(pane.xfce)) {
            return true;
        }
        return startFirst(pane.anywhere);
    }
    return false;
}

void XdgDesktop::openUrl(const std::string& url) {
    QDesktopServices::openUrl(QUrl(QString::fromStdString(url)));
}

void XdgDesktop::openFolder(const std::string& path) {
    QDesktopServices::openUrl(QUrl::fromLocalFile(QString::fromStdString(path)));
}

}  // namespace larkspire::linux_desktop
