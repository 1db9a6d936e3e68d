#include "platform/desktop/XdgAutostart.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QSaveFile>
#include <cstdlib>

namespace {
bool IsHidden(const QString& path)
{
    QFile file(path);
    if (!file.open(QIODevice::ReadOnly)) return false;
    bool inMain = false;
    while (!file.atEnd()) {
        const QByteArray line = file.readLine().trimmed();
        if (line.startsWith('[')) inMain = line == "[Desktop Entry]";
        else if (inMain && line.startsWith("Hidden") && line.mid(6).trimmed().startsWith('='))
            return line.mid(line.indexOf('=') + 1).trimmed() == "true";
    }
    return false;
}

std::string Env(const char* name)
{
    const char* v = std::getenv(name);
    return v ? v : "";
}
}  // namespace

XdgAutostart::XdgAutostart(std::string id, std::string configHome, std::vector<std::string> configDirs,
                           std::vector<std::string> command)
    : id_(std::move(id)), configHome_(std::move(configHome)), configDirs_(std::move(configDirs)),
      command_(std::move(command))
{
}

XdgAutostart XdgAutostart::FromEnvironment(std::string id, std::vector<std::string> command)
{
    // Relative values are invalid and ignored, as the base directory rules say.
    std::string home = Env("XDG_CONFIG_HOME");
    if (home.empty() || home.front() != '/') home = Env("HOME") + "/.config";
    std::vector<std::string> dirs;
    const QString list = QString::fromStdString(Env("XDG_CONFIG_DIRS"));
    for (const QString& d : list.split(':', Qt::SkipEmptyParts))
        if (d.startsWith('/')) dirs.push_back(d.toStdString());
    if (dirs.empty()) dirs.push_back("/etc/xdg");
    return XdgAutostart(std::move(id), home, dirs, std::move(command));
}

std::string XdgAutostart::EntryPath() const
{
    return configHome_ + "/autostart/" + id_ + ".desktop";
}

std::string XdgAutostart::SystemEntry() const
{
    for (const std::string& dir : configDirs_) {
        const std::string path = dir + "/autostart/" + id_ + ".desktop";
        if (QFileInfo::exists(QString::fromStdString(path))) return path;
    }
    return {};
}

bool XdgAutostart::Enabled()
{
    const QString user = QString::fromStdString(EntryPath());
    if (QFileInfo::exists(user)) return !IsHidden(user);
    const std::string system = SystemEntry();
    return !system.empty() && !IsHidden(QString::fromStdString(system));
}

std::string XdgAutostart::ExecLine(const std::vector<std::string>& command)
{
    // Exec quoting first, then the escapes of a string value.
    static const std::string reserved = " \t\n\"'\\><~|&;$*?#()`";
    std::string line;
    for (const std::string& arg : command) {
        if (!line.empty()) line += ' ';
        std::string quoted;
        const bool quote = arg.empty() || arg.find_first_of(reserved) != std::string::npos;
        for (char c : arg) {
            if (quote && (c == '"' || c == '`' || c == '$' || c == '\\')) quoted += '\\';
            if (c == '%') quoted += '%';
            quoted += c;
        }
        if (quote) quoted = '"' + quoted + '"';
        for (char c : quoted) {
            if (c == '\\') line += "\\\\";
            else if (c == '\n') line += "\\n";
            else if (c == '\t') line += "\\t";
            else line += c;
        }
    }
    return line;
}

bool XdgAutostart::SetEnabled(bool enabled)
{
    error_.clear();
    const QString path = QString::fromStdString(EntryPath());
    const bool systemEntry = !SystemEntry().empty();
    if (!enabled && !systemEntry) {
        if (!QFileInfo::exists(path) || QFile::remove(path)) return true;
        error_ = "Unable to remove " + EntryPath();
        return false;
    }
    QByteArray text = "[Desktop Entry]\nType=Application\nName=Chronel Timer\n";
    if (enabled) {
        text += "Comment=Work clock in the tray, started with the desktop session\n";
        text += "Exec=" + QByteArray::fromStdString(ExecLine(command_)) + "\n";
        text += "Icon=" + QByteArray::fromStdString(id_) + "\nTerminal=false\nX-GNOME-Autostart-enabled=true\n";
    } else {
        // The system's entry of the same id would start it otherwise.
        text += "Hidden=true\n";
    }
    QDir().mkpath(QFileInfo(path).absolutePath());
    QSaveFile file(path);
    if (!file.open(QIODevice::WriteOnly) || file.write(text) != text.size() || !file.commit()) {
        error_ = "Unable to write to " + EntryPath();
        return false;
    }
    return true;
}

std::vector<std::string> AutostartCommand(const std::string& exePath, const std::string& foundOnPath,
                                          const std::string& settingsFile)
{
    const QString exe = QFileInfo(QString::fromStdString(exePath)).canonicalFilePath();
    const QString found = foundOnPath.empty() ? QString() : QFileInfo(QString::fromStdString(foundOnPath)).canonicalFilePath();
    std::vector<std::string> command;
    if (!exe.isEmpty() && exe == found)
        command.push_back(QFileInfo(QString::fromStdString(foundOnPath)).fileName().toStdString());
    else command.push_back(exe.isEmpty() ? exePath : exe.toStdString());
    command.push_back("--hidden");
    if (!settingsFile.empty()) {
        command.push_back("--settings");
        command.push_back(settingsFile);
    }
    return command;
}
