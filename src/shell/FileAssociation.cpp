#include "shell/FileAssociation.h"

#include "base/IniFile.h"

#include <QCoreApplication>
#include <QDir>
#include <QDirIterator>
#include <QFile>
#include <QFileInfo>
#include <QProcess>
#include <QRegularExpression>
#include <QSaveFile>
#include <QStandardPaths>
#include <QTimer>

#include <algorithm>
#include <map>
#include <utility>
#include <vector>

namespace velmora {

namespace {

const QString DefaultApplications = QStringLiteral("Default Applications");
const QString AddedAssociations = QStringLiteral("Added Associations");
const QString RemovedAssociations = QStringLiteral("Removed Associations");
const QString DesktopEntryGroup = QStringLiteral("Desktop Entry");

// Time a database tool may take before the association gives up on it.
constexpr int ToolTimeoutMs = 30000;

bool writeFile(const QString& path, const QByteArray& bytes) {
    if (!QDir().mkpath(QFileInfo(path).absolutePath())) {
        return false;
    }
    QSaveFile file(path);
    if (!file.open(QIODevice::WriteOnly)) {
        return false;
    }
    file.write(bytes);
    return file.commit();
}

// The freedesktop database tools, each with the folder it reads: run one after another
// without waiting for them; `done` learns on this thread whether each finished well. A tool
// that is not installed is no failure: such a system has no desktop that reads its database.
// The processes belong to the application, which ends any still running when it quits.
void runTools(std::vector<std::pair<QString, QString>> tools, std::function<void(bool)> done) {
    const auto installed = std::find_if(tools.begin(), tools.end(), [](const auto& tool) {
        return !QStandardPaths::findExecutable(tool.first).isEmpty();
    });
    tools.erase(tools.begin(), installed);
    const auto finish = [done](bool well) {
        if (done) {
            done(well);
        }
    };
    if (tools.empty()) {
        finish(true);
        return;
    }
    auto* process = new QProcess(QCoreApplication::instance());
    QObject::connect(process, &QProcess::finished, process,
                     [process, tools, done, finish](int code, QProcess::ExitStatus status) {
                         process->deleteLater();
                         if (status != QProcess::NormalExit || code != 0) {
                             finish(false);
                             return;
                         }
                         runTools({tools.begin() + 1, tools.end()}, done);
                     });
    QObject::connect(process, &QProcess::errorOccurred, process,
                     [process, finish](QProcess::ProcessError error) {
                         if (error == QProcess::FailedToStart) {
                             process->deleteLater();
                             finish(false);
                         }
                     });
    QTimer::singleShot(ToolTimeoutMs, process, [process] { process->kill(); });
    process->start(QStandardPaths::findExecutable(tools.front().first), {tools.front().second});
}

QStringList environmentList(const char* variable, const QStringList& fallback) {
    const QStringList list = qEnvironmentVariable(variable).split(':', Qt::SkipEmptyParts);
    return list.isEmpty() ? fallback : list;
}

QString environmentFolder(const char* variable, const QString& fallback) {
    const QString folder = qEnvironmentVariable(variable);
    return QDir::isAbsolutePath(folder) ? folder : fallback;
}

QStringList listValue(const IniFile& ini, const QString& group, const QString& key) {
    return ini.stringValue(group, key, {}).split(';', Qt::SkipEmptyParts);
}

// The installed desktop entries by desktop file ID (a subfolder's name joins the ID with '-'),
// the first folder winning. Hidden entries count as deleted.
std::map<QString, QString> installedEntries(const QStringList& applicationFolders) {
    std::map<QString, QString> entries;
    for (const QString& folder : applicationFolders) {
        QDirIterator it(folder, {QStringLiteral("*.desktop")}, QDir::Files,
                        QDirIterator::Subdirectories);
        while (it.hasNext()) {
            const QString path = it.next();
            QString id = QDir(folder).relativeFilePath(path);
            id.replace('/', '-');
            entries.try_emplace(id, path);
        }
    }
    std::erase_if(entries, [](const auto& entry) {
        return IniFile::load(entry.second).stringValue(DesktopEntryGroup, "Hidden", {}) == "true";
    });
    return entries;
}

}  // namespace

XdgFolders XdgFolders::fromEnvironment() {
    const QString home = QDir::homePath();
    XdgFolders folders;
    folders.dataHome = environmentFolder("XDG_DATA_HOME", home + "/.local/share");
    folders.configHome = environmentFolder("XDG_CONFIG_HOME", home + "/.config");
    folders.dataDirs = environmentList("XDG_DATA_DIRS", {"/usr/local/share", "/usr/share"});
    folders.configDirs = environmentList("XDG_CONFIG_DIRS", {"/etc/xdg"});
    folders.desktops =
        qEnvironmentVariable("XDG_CURRENT_DESKTOP").toLower().split(':', Qt::SkipEmptyParts);
    return folders;
}

FileAssociation::FileAssociation() : FileAssociation(XdgFolders::fromEnvironment()) {}

FileAssociation::FileAssociation(QString dataHome, QString configHome)
    : FileAssociation(XdgFolders{std::move(dataHome), {}, std::move(configHome), {}, {}}) {}

FileAssociation::FileAssociation(XdgFolders folders) : m_folders(std::move(folders)) {}

QString FileAssociation::mimeAppsPath() const {
    return QDir(m_folders.configHome).filePath(QStringLiteral("mimeapps.list"));
}

QString FileAssociation::desktopEntryPath() const {
    return QDir(m_folders.dataHome).filePath(QStringLiteral("applications/") + DesktopEntry);
}

QString FileAssociation::mimePackagePath() const {
    return QDir(m_folders.dataHome).filePath(QStringLiteral("mime/packages/velmora.xml"));
}

QString FileAssociation::execProgram(const QString& programPath) {
    // As desktops read an Exec line: an argument with a reserved character is quoted, and
    // inside the quotes '"', '`', '$' and '\' take a backslash; '%' is doubled anywhere. The
    // result is then escaped as any string value of the file.
    static const QString reserved = QStringLiteral(" \t\n\"'\\><~|&;$*?#()`");
    QString argument = QString(programPath).replace('%', QStringLiteral("%%"));
    if (std::any_of(argument.begin(), argument.end(),
                    [](QChar c) { return reserved.contains(c); })) {
        static const QRegularExpression escapedInQuotes(QStringLiteral("([\"`$\\\\])"));
        argument = '"' + argument.replace(escapedInQuotes, QStringLiteral("\\\\1")) + '"';
    }
    return argument.replace('\\', QStringLiteral("\\\\"))
        .replace('\n', QStringLiteral("\\n"))
        .replace('\t', QStringLiteral("\\t"))
        .replace('\r', QStringLiteral("\\r"));
}

QString FileAssociation::mimeTypeOfFileName(const QString& fileName) const {
    // The globs2 files that update-mime-database writes: "weight:type:glob[:flags]" lines. The
    // heaviest match wins; among equals, the first folder.
    QString best;
    int bestWeight = -1;
    for (const QString& folder : QStringList{m_folders.dataHome} + m_folders.dataDirs) {
        QFile globs(QDir(folder).filePath(QStringLiteral("mime/globs2")));
        if (!globs.open(QIODevice::ReadOnly | QIODevice::Text)) {
            continue;
        }
        while (!globs.atEnd()) {
            const QStringList fields = QString::fromUtf8(globs.readLine()).trimmed().split(':');
            if (fields.size() < 3 || fields[0].startsWith('#')) {
                continue;
            }
            const int weight = fields[0].toInt();
            const auto sensitivity = fields.value(3).split(',').contains(QStringLiteral("cs"))
                                         ? QRegularExpression::NoPatternOption
                                         : QRegularExpression::CaseInsensitiveOption;
            const QRegularExpression glob(
                QRegularExpression::wildcardToRegularExpression(fields[2]), sensitivity);
            if (weight > bestWeight && glob.match(fileName).hasMatch()) {
                best = fields[1];
                bestWeight = weight;
            }
        }
    }
    return best;
}

QString FileAssociation::defaultApplication(const QString& mimeType) const {
    // The mimeapps.list files from the most to the least important: at each level, the ones of
    // the current desktops before the common one.
    QStringList levels{m_folders.configHome};
    levels += m_folders.configDirs;
    levels += m_folders.dataHome + QStringLiteral("/applications");
    QStringList applicationFolders{m_folders.dataHome + QStringLiteral("/applications")};
    for (const QString& folder : m_folders.dataDirs) {
        levels += folder + QStringLiteral("/applications");
        applicationFolders += folder + QStringLiteral("/applications");
    }
    std::vector<IniFile> lists;
    for (const QString& level : levels) {
        for (const QString& desktop : m_folders.desktops) {
            lists.push_back(
                IniFile::load(level + '/' + desktop + QStringLiteral("-mimeapps.list")));
        }
        lists.push_back(IniFile::load(level + QStringLiteral("/mimeapps.list")));
    }

    const std::map<QString, QString> installed = installedEntries(applicationFolders);
    for (const IniFile& list : lists) {
        for (const QString& id : listValue(list, DefaultApplications, mimeType)) {
            if (installed.contains(id)) {
                return id;
            }
        }
    }
    // No default: the added associations, then the entries that name the type themselves,
    // without the removed ones.
    QStringList removed;
    QStringList candidates;
    for (const IniFile& list : lists) {
        removed += listValue(list, RemovedAssociations, mimeType);
        candidates += listValue(list, AddedAssociations, mimeType);
    }
    for (const auto& [id, path] : installed) {
        if (listValue(IniFile::load(path), DesktopEntryGroup, "MimeType").contains(mimeType)) {
            candidates += id;
        }
    }
    for (const QString& id : candidates) {
        if (installed.contains(id) && !removed.contains(id)) {
            return id;
        }
    }
    return {};
}

bool FileAssociation::isAssociated() const {
    return mimeTypeOfFileName(QStringLiteral("connection.vmc")) == MimeType &&
           defaultApplication(MimeType) == DesktopEntry;
}

bool FileAssociation::associate(const QString& programPath,
                                std::function<void(bool)> updated) const {
    const QByteArray mime =
        "<?xml version=\"1.0\" encoding=\"UTF-8\"?>\n"
        "<mime-info xmlns=\"http://www.freedesktop.org/standards/shared-mime-info\">\n"
        "  <mime-type type=\"application/x-velmora-connection\">\n"
        "    <comment>Velmora Connection</comment>\n"
        "    <glob pattern=\"*.vmc\"/>\n"
        "  </mime-type>\n"
        "</mime-info>\n";
    const QByteArray desktop =
        "[Desktop Entry]\n"
        "Type=Application\n"
        "Name=Velmora\n"
        "Comment=Talk and send files over a cable or a modem line\n"
        "Exec=" +
        execProgram(programPath).toUtf8() +
        " %f\n"
        "Icon=velmora\n"
        "Terminal=false\n"
        "Categories=Network;Chat;FileTransfer;\n"
        "MimeType=application/x-velmora-connection;\n";
    IniFile mimeApps = IniFile::load(mimeAppsPath());
    mimeApps.setValue(DefaultApplications, MimeType, DesktopEntry);
    const bool written = writeFile(mimePackagePath(), mime) &&
                         writeFile(desktopEntryPath(), desktop) &&
                         QDir().mkpath(m_folders.configHome) && mimeApps.save(mimeAppsPath());
    if (!written) {
        return false;
    }
    runTools({{QStringLiteral("update-mime-database"), m_folders.dataHome + "/mime"},
              {QStringLiteral("update-desktop-database"), m_folders.dataHome + "/applications"}},
             std::move(updated));
    return true;
}

}  // namespace velmora
