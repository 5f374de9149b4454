#pragma once

#include <QString>

namespace velmora {

// Help topics: each is a path "::/Source\A\B.htm" inside the help, shown from the page
// Source/A/B.htm of the help folder.
namespace HelpTopic {

inline const QString Introduction =
    QStringLiteral("::/Source\\Introducing the Velmora\\Introduction.htm");
inline const QString QuickStart =
    QStringLiteral("::/Source\\Quick start\\Establishing connection.htm");
inline const QString OptionsDialog =
    QStringLiteral("::/Source\\Interface\\Options dialog\\General tab.htm");
inline const QString NewConnectionDialog =
    QStringLiteral("::/Source\\Interface\\New connection dialog.htm");
inline const QString ModemNotFound = QStringLiteral(
    "::/Source\\Useful techniques\\Troubleshooting Velmora didn't find my modem!.htm");
inline const QString ConnectionWizard =
    QStringLiteral("::/Source\\Quick start\\Connection Wizard.htm");

// The page file of a topic inside helpFolder; empty when the topic has no "::/" prefix or
// would lead out of the help folder.
QString pageFile(const QString& helpFolder, const QString& topic);

// The message shown when the help cannot be displayed.
QString fallbackMessage(const QString& supportEmail);

}  // namespace HelpTopic

}  // namespace velmora
