#include "platform/desktop/XdgAutostart.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QSaveFile>
#include <QStandardPaths>
#include <algorithm>
#include <cstdlib>

#include "platform/desktop/DesktopSingleInstance.h"

namespace {
std::string Env(const char* name)
{
    const char* v = std::getenv(name);
    return v ? v : "";
}

// The escapes of a string value.
std::string EscapedString(const std::string& text)
{
    std::string out;
    for (char c : text) {
        if (c == '\\') out += "\\\\";
        else if (c == '\n') out += "\\n";
        else if (c == '\t') out += "\\t";
        else if (c == '\r') out += "\\r";
        else out += c;
    }
    return out;
}

std::string UnescapedString(const std::string& value)
{
    std::string out;
    for (std::size_t i = 0; i < value.size(); ++i) {
        if (value[i] != '\\' || i + 1 == value.size()) {
            out += value[i];
            continue;
        }
        const char c = value[++i];
        out += c == 's' ? ' ' : c == 'n' ? '\n' : c == 't' ? '\t' : c == 'r' ? '\r' : c;
    }
    return out;
}

// A program word of a command as a file: a name is looked up on the PATH.
std::string ProgramFile(const std::string& word)
{
    if (word.empty()) return {};
    const QString found = word.find('/') == std::string::npos
                              ? QStandardPaths::findExecutable(QString::fromStdString(word))
                              : QString::fromStdString(word);
    return found.isEmpty() ? std::string() : QFileInfo(found).canonicalFilePath().toStdString();
}

// What a command starts: the program's file and the settings file's key
// (empty for the program's own settings file); empty when the program is not found.
std::string Identity(const std::vector<std::string>& words)
{
    const std::string program = words.empty() ? std::string() : ProgramFile(words[0]);
    if (program.empty()) return {};
    std::string settings;
    for (std::size_t i = 1; i < words.size(); ++i) {
        const std::string& w = words[i];
        const std::string bare = w.starts_with("--") ? w.substr(2) : w.starts_with("-") ? w.substr(1) : std::string();
        if (bare == "settings" && i + 1 < words.size()) settings = words[++i];
        else if (bare.starts_with("settings=")) settings = bare.substr(9);
    }
    return program + "\n" + (settings.empty() ? std::string() : DesktopSingleInstance::InstanceKey(settings));
}
}  // namespace

XdgAutostart::XdgAutostart(std::string prefix, std::string configHome, std::vector<std::string> configDirs,
                           std::vector<std::string> command)
    : prefix_(std::move(prefix)), configHome_(std::move(configHome)), configDirs_(std::move(configDirs)),
      command_(std::move(command)), identity_(Identity(command_))
{
}

XdgAutostart XdgAutostart::FromEnvironment(std::string prefix, std::vector<std::string> command)
{
    // Relative values are invalid and ignored, as the base directory rules say.
    std::string home = Env("XDG_CONFIG_HOME");
    if (home.empty() || home.front() != '/') home = Env("HOME") + "/.config";
    std::vector<std::string> dirs;
    const QString list = QString::fromStdString(Env("XDG_CONFIG_DIRS"));
    for (const QString& d : list.split(':', Qt::SkipEmptyParts))
        if (d.startsWith('/')) dirs.push_back(d.toStdString());
    if (dirs.empty()) dirs.push_back("/etc/xdg");
    return XdgAutostart(std::move(prefix), home, dirs, std::move(command));
}

std::string XdgAutostart::EntryPath() const
{
    return configHome_ + "/autostart/" + prefix_ + "-" + DesktopSingleInstance::KeyDigest(identity_).substr(0, 16) +
           ".desktop";
}

std::vector<std::string> XdgAutostart::Names() const
{
    const QStringList patterns{QString::fromStdString(prefix_ + ".desktop"),
                               QString::fromStdString(prefix_ + "-*.desktop")};
    std::vector<std::string> names;
    std::vector<std::string> dirs{configHome_};
    dirs.insert(dirs.end(), configDirs_.begin(), configDirs_.end());
    for (const std::string& dir : dirs) {
        const QDir autostart(QString::fromStdString(dir + "/autostart"));
        for (const QString& name : autostart.entryList(patterns, QDir::Files)) {
            if (std::find(names.begin(), names.end(), name.toStdString()) == names.end())
                names.push_back(name.toStdString());
        }
    }
    return names;
}

std::string XdgAutostart::SystemEntry(const std::string& name) const
{
    for (const std::string& dir : configDirs_) {
        const std::string path = dir + "/autostart/" + name;
        if (QFileInfo::exists(QString::fromStdString(path))) return path;
    }
    return {};
}

std::string XdgAutostart::Effective(const std::string& name) const
{
    const std::string user = configHome_ + "/autostart/" + name;
    return QFileInfo::exists(QString::fromStdString(user)) ? user : SystemEntry(name);
}

XdgAutostart::Entry XdgAutostart::Read(const std::string& path) const
{
    Entry entry;
    QFile file(QString::fromStdString(path));
    if (path.empty() || !file.open(QIODevice::ReadOnly)) return entry;
    bool inMain = false;
    bool hidden = false, switchedOff = false;
    std::string exec;
    while (!file.atEnd()) {
        const QByteArray line = file.readLine().trimmed();
        if (line.startsWith('[')) {
            inMain = line == "[Desktop Entry]";
            continue;
        }
        const int eq = line.indexOf('=');
        if (!inMain || eq < 0) continue;
        const QByteArray key = line.left(eq).trimmed();
        const QByteArray value = line.mid(eq + 1).trimmed();
        if (key == "Hidden") hidden = value == "true";
        else if (key == "X-GNOME-Autostart-enabled") switchedOff = value == "false";
        else if (key == "Exec") exec = value.toStdString();
    }
    entry.ours = !identity_.empty() && Identity(ExecWords(exec)) == identity_;
    entry.active = !hidden && !switchedOff;
    return entry;
}

bool XdgAutostart::Enabled()
{
    for (const std::string& name : Names()) {
        const Entry entry = Read(Effective(name));
        if (entry.ours && entry.active) return true;
    }
    return false;
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
        line += EscapedString(quoted);
    }
    return line;
}

std::vector<std::string> XdgAutostart::ExecWords(const std::string& value)
{
    const std::string text = UnescapedString(value);
    std::vector<std::string> words;
    std::string word;
    bool inWord = false, quoted = false;
    for (std::size_t i = 0; i < text.size(); ++i) {
        const char c = text[i];
        if (c == '%' && i + 1 < text.size()) {
            // "%%" is a percent sign; other field codes stand for files or URLs, none here.
            if (text[++i] != '%') continue;
            word += '%';
        } else if (quoted) {
            if (c == '"') quoted = false;
            else if (c == '\\' && i + 1 < text.size()) word += text[++i];
            else word += c;
        } else if (c == ' ' || c == '\t' || c == '\n') {
            if (inWord) words.push_back(word);
            word.clear();
            inWord = false;
            continue;
        } else if (c == '"') {
            quoted = true;
        } else {
            word += c;
        }
        inWord = true;
    }
    if (quoted) return {};
    if (inWord) words.push_back(word);
    return words;
}

bool XdgAutostart::Write(const std::string& path, const std::string& text)
{
    QDir().mkpath(QFileInfo(QString::fromStdString(path)).absolutePath());
    QSaveFile file(QString::fromStdString(path));
    const QByteArray data = QByteArray::fromStdString(text);
    if (!file.open(QIODevice::WriteOnly) || file.write(data) != data.size() || !file.commit()) {
        error_ = "Unable to write to " + path;
        return false;
    }
    return true;
}

bool XdgAutostart::SetEnabled(bool enabled)
{
    error_.clear();
    if (enabled) {
        if (Enabled()) return true;
        // TryExec: once the program is gone, the session skips the entry instead of failing at each login.
        return Write(EntryPath(), "[Desktop Entry]\nType=Application\nName=Chronel Timer\n"
                                  "Comment=Work clock in the tray, started with the desktop session\n"
                                  "TryExec=" + EscapedString(command_.empty() ? std::string() : command_[0]) + "\n" +
                                      "Exec=" + ExecLine(command_) + "\nIcon=" + prefix_ +
                                      "\nTerminal=false\nX-GNOME-Autostart-enabled=true\n");
    }
    for (const std::string& name : Names()) {
        const std::string path = Effective(name);
        const Entry entry = Read(path);
        if (!entry.ours || !entry.active) continue;
        const std::string user = configHome_ + "/autostart/" + name;
        if (path == user && !QFile::remove(QString::fromStdString(user))) {
            error_ = "Unable to remove " + user;
            return false;
        }
        // The system's entry of the same name would start it otherwise.
        const Entry system = Read(SystemEntry(name));
        if (system.ours && system.active &&
            !Write(user, "[Desktop Entry]\nType=Application\nName=Chronel Timer\nHidden=true\n"))
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
