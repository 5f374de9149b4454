#include "apps/velmora-cli/CliOptions.h"
#include "apps/velmora-cli/EndSignals.h"
#include "apps/velmora-cli/HeadlessPeer.h"
#include "base/DataFolder.h"

#include <QCoreApplication>
#include <QTextStream>

#include <cstdio>

int main(int argc, char* argv[]) {
    QCoreApplication application(argc, argv);
    QCoreApplication::setApplicationName(QStringLiteral("velmora-cli"));
    QTextStream out(stdout);
    QTextStream err(stderr);
    const auto parsed = velmora::parseCliOptions(QCoreApplication::arguments());
    if (const auto* exit = std::get_if<velmora::CliExit>(&parsed)) {
        (exit->code == velmora::ExitDone ? out : err) << exit->text << Qt::endl;
        return exit->code;
    }
    velmora::HeadlessPeer peer(std::get<velmora::CliOptions>(parsed),
                               velmora::dataFolder(QCoreApplication::applicationDirPath()), out,
                               err);
    if (const auto failure = peer.start()) {
        return *failure;
    }
    const velmora::EndSignals endSignals([&peer] { peer.end(); });
    return QCoreApplication::exec();
}
