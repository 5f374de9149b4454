#include "transfer/TransferWords.h"

#include "base/TerminalText.h"
#include "protocol/PeerMessages.h"

namespace velmora {

QString reasonWords(std::uint8_t code, const QString& detail, const QString& who) {
    const bool here = who.isEmpty();
    QString words;
    switch (code) {
        case trUserAborted:
            words = here ? QStringLiteral("aborted here") : QStringLiteral("aborted by %1");
            break;
        case trBlocked:
            words = here ? QStringLiteral("files are not accepted here")
                         : QStringLiteral("%1 does not accept files");
            break;
        case trUnusableName:
            words = here ? QStringLiteral("its name cannot be used here")
                         : QStringLiteral("%1 cannot use its name");
            break;
        case trCannotWrite:
            words = here ? QStringLiteral("could not write it")
                         : QStringLiteral("%1 could not write it");
            break;
        case trCannotRead:
            words =
                here ? QStringLiteral("could not read it") : QStringLiteral("%1 could not read it");
            break;
        case trSourceChanged:
            words = QStringLiteral("the file changed while it was sent");
            break;
        case trBadData:
            words = here ? QStringLiteral("other data came than was offered")
                         : QStringLiteral("%1 got other data than was offered");
            break;
        case trTooMany:
            words = here ? QStringLiteral("too many files were coming at once")
                         : QStringLiteral("%1 takes no more files at once");
            break;
        default:
            words = here ? QStringLiteral("stopped here") : QStringLiteral("stopped by %1");
            break;
    }
    if (words.contains(QStringLiteral("%1"))) {
        words = words.arg(who);
    }
    if (!detail.isEmpty()) {
        words += QStringLiteral(": ") + TerminalText::visible(detail);
    }
    return words;
}

}  // namespace velmora
