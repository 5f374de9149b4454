#include "session/Guid.h"

#include <QRegularExpression>

namespace velmora {

namespace {

Guid parseOrDie(const char* text) {
    return *Guid::fromString(QString::fromLatin1(text));
}

}  // namespace

std::optional<Guid> Guid::fromString(const QString& text) {
    static const QRegularExpression pattern(
        QStringLiteral("^\\{([0-9A-Fa-f]{8})-([0-9A-Fa-f]{4})-([0-9A-Fa-f]{4})-([0-9A-Fa-f]{4})-"
                       "([0-9A-Fa-f]{12})\\}$"));
    const auto match = pattern.match(text);
    if (!match.hasMatch()) {
        return std::nullopt;
    }
    Guid guid;
    const std::uint32_t data1 = match.captured(1).toUInt(nullptr, 16);
    const std::uint16_t data2 = match.captured(2).toUShort(nullptr, 16);
    const std::uint16_t data3 = match.captured(3).toUShort(nullptr, 16);
    for (int i = 0; i < 4; ++i) {
        guid.bytes[i] = static_cast<std::uint8_t>(data1 >> (8 * i));
    }
    guid.bytes[4] = static_cast<std::uint8_t>(data2);
    guid.bytes[5] = static_cast<std::uint8_t>(data2 >> 8);
    guid.bytes[6] = static_cast<std::uint8_t>(data3);
    guid.bytes[7] = static_cast<std::uint8_t>(data3 >> 8);
    const QString tail = match.captured(4) + match.captured(5);
    for (int i = 0; i < 8; ++i) {
        guid.bytes[8 + i] = static_cast<std::uint8_t>(tail.mid(2 * i, 2).toUInt(nullptr, 16));
    }
    return guid;
}

QString Guid::toString() const {
    auto hex = [this](int from, int to) {
        QString out;
        for (int i = from; i != to; i += (to > from ? 1 : -1)) {
            out += QStringLiteral("%1").arg(bytes[i], 2, 16, QLatin1Char('0'));
        }
        return out;
    };
    return QStringLiteral("{%1-%2-%3-%4-%5}")
        .arg(hex(3, -1), hex(5, 3), hex(7, 5), hex(8, 10), hex(10, 16))
        .toUpper();
}

bool Guid::isNull() const {
    return *this == Guid{};
}

namespace guids {
const Guid ServiceProviderModem = parseOrDie("{44EAA760-CB68-11CF-9C4E-00A0C905425E}");
const Guid ServiceProviderSerial = parseOrDie("{0F1D6860-88D9-11CF-9C4E-00A0C905425E}");
const Guid ServiceProviderTcpIp = parseOrDie("{36E95EE0-8577-11CF-960C-0080C7534E82}");
const Guid ServiceProviderMemory = parseOrDie("{5E2C7A41-3B1D-4F0E-9A77-C41D0B9E6A10}");
const Guid AddressTotalSize = parseOrDie("{1318F560-912C-11D0-9DAA-00A0C90A43CB}");
const Guid AddressServiceProvider = parseOrDie("{07D916C0-E0AF-11CF-9C4E-00A0C905425E}");
const Guid AddressModem = parseOrDie("{F6DCC200-A2FE-11D0-9C4F-00A0C905425E}");
const Guid AddressPhone = parseOrDie("{78EC89A0-E0AF-11CF-9C4E-00A0C905425E}");
const Guid AddressINet = parseOrDie("{C4A54DA0-E0AF-11CF-9C4E-00A0C905425E}");
const Guid AddressINetPort = parseOrDie("{E4524541-8EA5-11D1-8A96-006097B01411}");
}  // namespace guids

}  // namespace velmora
