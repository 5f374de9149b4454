#include "shell/StartArgument.h"

namespace velmora {

StartArgument StartArgument::parse(const QStringList& arguments) {
    if (arguments.isEmpty()) {
        return {};
    }
    const QString& first = arguments.constFirst();
    if (first == QStringLiteral("-uninstall")) {
        return {Kind::Uninstall, QString()};
    }
    return {Kind::ConnectionFile, first};
}

}  // namespace velmora
