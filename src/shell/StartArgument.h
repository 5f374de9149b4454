#pragma once

#include <QString>
#include <QStringList>

namespace velmora {

// What the program's command line asks for. Only the first argument counts: "-uninstall"
// exactly (letter case included) asks for the uninstall feedback step; anything else names a
// connection file to open.
struct StartArgument {
    enum class Kind { None, Uninstall, ConnectionFile };

    Kind kind = Kind::None;
    QString fileName;  // the connection file as given, for Kind::ConnectionFile

    // The arguments after the program's name.
    static StartArgument parse(const QStringList& arguments);
};

}  // namespace velmora
