#include "session/link/LinkTexts.h"

namespace velmora {

namespace {

QString heardText(LinkHeard heard) {
    switch (heard) {
        case LinkHeard::Frames:
            return QStringLiteral("The other computer answered, but the link could not be set up.");
        case LinkHeard::OwnEcho:
            return QStringLiteral(
                "Only this computer's own bytes came back: the port is looped "
                "back, or a modem echoes them in command mode.");
        case LinkHeard::Bytes:
            return QStringLiteral(
                "Bytes came from the other end, but no Velmora link: a terminal "
                "or a modem may be on the port.");
        case LinkHeard::Nothing:
            break;
    }
    return QStringLiteral(
        "Nothing came from the other end: Velmora must be waiting as Master "
        "there, and the cable must be plugged in.");
}

}  // namespace

QString linkDownText(const LinkDownCause& cause) {
    switch (cause.fault) {
        case LinkFault::PeerClosed:
            return QStringLiteral("The other computer closed the connection.");
        case LinkFault::OtherVersion:
            return QStringLiteral(
                       "The other computer runs version %1 of the Velmora serial link, "
                       "this one version %2: both sides need the same version of Velmora.")
                .arg(cause.peerVersion)
                .arg(cause.ownVersion);
        case LinkFault::PeerRestarted:
            return QStringLiteral(
                "The other computer started the link again: the connection was "
                "interrupted.");
        case LinkFault::Silence:
            return QStringLiteral(
                       "Nothing has come from the other computer for %1 seconds: the "
                       "cable was pulled or the other side stopped.")
                .arg(static_cast<double>(cause.limitMs) / 1000.0);
        case LinkFault::Garbage:
            return QStringLiteral(
                       "Only unreadable bytes have come from the other computer for %1 "
                       "seconds.")
                .arg(cause.limitMs / 1000);
        case LinkFault::BadCompression:
            return QStringLiteral(
                "The other computer sent a compressed message that could not be unpacked.");
        case LinkFault::MessageTooLarge:
            break;
    }
    return QStringLiteral("The other computer sent a message larger than the link allows.");
}

QString noAnswerText(const QString& device, LinkHeard heard) {
    return QStringLiteral("No answer on the serial port %1. %2").arg(device, heardText(heard));
}

QString portFailedText(const QString& device, const QString& error) {
    return QStringLiteral("The serial port %1 failed: %2. Was the adapter unplugged?")
        .arg(device, error);
}

QString streamNoAnswerText(const QString& address) {
    return QStringLiteral("No Velmora link answered over the connection to %1.").arg(address);
}

QString streamFailedText(const QString& address, const QString& error) {
    return QStringLiteral("The connection to %1 failed: %2.").arg(address, error);
}

}  // namespace velmora
