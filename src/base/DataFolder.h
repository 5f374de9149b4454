#pragma once

#include <QString>

namespace velmora {

// The folder that holds options.ini, the recent lists and the connection files: the folder named
// by VELMORA_HOME when set, else the executable's folder when it can be written, else
// $XDG_DATA_HOME/velmora (an installed copy), created when missing. Settings written into a
// folder that cannot take them would be lost, hence the last choice.
QString dataFolder(const QString& executableFolder);

// The folder of the help pages: Help beside the executable, else the installed share/velmora/Help.
QString helpFolder(const QString& executableFolder);

// The login name of the effective user; empty when it cannot be found.
QString loginName();

}  // namespace velmora
