#include "base/HelpTopic.h"

#include <QDir>
#include <QStringList>

namespace velmora::HelpTopic {

QString pageFile(const QString& helpFolder, const QString& topic) {
    const QString prefix = QStringLiteral("::/");
    if (!topic.startsWith(prefix)) {
        return QString();
    }
    QString relative = topic.mid(prefix.size());
    relative.replace(QLatin1Char('\\'), QLatin1Char('/'));
    const QStringList parts = relative.split(QLatin1Char('/'), Qt::SkipEmptyParts);
    if (parts.isEmpty() || parts.contains(QStringLiteral("..")) ||
        parts.contains(QStringLiteral("."))) {
        return QString();
    }
    return QDir(helpFolder).filePath(parts.join(QLatin1Char('/')));
}

QString fallbackMessage(const QString& supportEmail) {
    return QStringLiteral("Sorry, but your system doesn't support HTMLHelp.\rPlease, consult ") +
           supportEmail + QStringLiteral(" and we'll send you another help file.");
}

}  // namespace velmora::HelpTopic
