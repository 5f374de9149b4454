#include "session/Windows1252.h"
#include "session/service/DirectPlayLobby.h"
#include "session/service/SessionService.h"

#include <QtEndian>

#include <gtest/gtest.h>

namespace velmora {
namespace {

struct Element {
    Guid type;
    QByteArray data;
    friend bool operator==(const Element&, const Element&) = default;
};

QByteArray compound(IDirectPlayLobby& lobby, const QList<DPCOMPOUNDADDRESSELEMENT>& elements) {
    std::uint32_t size = 0;
    EXPECT_EQ(lobby.CreateCompoundAddress(elements.constData(), elements.size(), nullptr, &size),
              DPERR_BUFFERTOOSMALL);
    QByteArray address(static_cast<qsizetype>(size), '\0');
    EXPECT_EQ(
        lobby.CreateCompoundAddress(elements.constData(), elements.size(), address.data(), &size),
        DP_OK);
    return address;
}

HRESULT walk(IDirectPlayLobby& lobby, const QByteArray& address, QList<Element>& out) {
    out.clear();
    return lobby.EnumAddress(
        [&out](const Guid& type, std::uint32_t size, const void* data) {
            out.append({type, QByteArray(static_cast<const char*>(data), size)});
            return true;
        },
        address.constData(), static_cast<std::uint32_t>(address.size()));
}

QByteArray guidBytes(const Guid& guid) {
    return QByteArray(reinterpret_cast<const char*>(guid.bytes.data()), 16);
}

// A provider that knows some modems, or fails to list them.
class ModemListProvider : public ServiceProvider {
public:
    ModemListProvider(QStringList names, HRESULT result) : m_names(names), m_result(result) {}
    HRESULT initialize(const Address& address) override {
        m_address = address;
        return address.isEmpty() || address[0].dataType == guids::AddressModem
                   ? DP_OK
                   : DPERR_INVALIDPARAMS;
    }
    std::uint32_t defaultTimeoutMs() const override { return 10; }
    HRESULT connect(std::unique_ptr<Line>&) override { return DPERR_NOCONNECTION; }
    HRESULT listen(std::unique_ptr<Line>&) override { return DPERR_NOCONNECTION; }
    HRESULT modemNames(QStringList& names) override {
        names = m_names;
        return m_result;
    }

private:
    QStringList m_names;
    HRESULT m_result;
    Address m_address;
};

ProviderEntry modemEntry(QStringList names, HRESULT result = DP_OK) {
    return {guids::ServiceProviderModem, QStringLiteral("Modem Connection"),
            [names, result] { return std::make_unique<ModemListProvider>(names, result); }};
}

TEST(CompoundAddress, RoundTripsWithTheTotalSizeFirst) {
    DirectPlayLobby lobby;
    const QByteArray modem("Modem A\0", 8);
    const QByteArray phone("555-0100\0", 9);
    const QList<DPCOMPOUNDADDRESSELEMENT> elements{
        {guids::AddressServiceProvider, 16, guids::ServiceProviderModem.bytes.data()},
        {guids::AddressModem, 8, modem.constData()},
        {guids::AddressPhone, 9, phone.constData()},
    };
    const QByteArray address = compound(lobby, elements);
    ASSERT_EQ(address.size(), 24 + (20 + 16) + (20 + 8) + (20 + 9));
    EXPECT_EQ(address.left(16), guidBytes(guids::AddressTotalSize));
    EXPECT_EQ(qFromLittleEndian<std::uint32_t>(address.constData() + 16), 4U);
    EXPECT_EQ(qFromLittleEndian<std::uint32_t>(address.constData() + 20),
              static_cast<std::uint32_t>(address.size()));

    QList<Element> walked;
    ASSERT_EQ(walk(lobby, address, walked), DP_OK);
    const QList<Element> expected{
        {guids::AddressTotalSize, address.mid(20, 4)},
        {guids::AddressServiceProvider, guidBytes(guids::ServiceProviderModem)},
        {guids::AddressModem, modem},
        {guids::AddressPhone, phone},
    };
    EXPECT_EQ(walked, expected);

    // A buffer one byte short is refused with the size needed, and left alone.
    QByteArray small(address.size() - 1, 'x');
    auto size = static_cast<std::uint32_t>(small.size());
    EXPECT_EQ(lobby.CreateCompoundAddress(elements.constData(), 3, small.data(), &size),
              DPERR_BUFFERTOOSMALL);
    EXPECT_EQ(size, static_cast<std::uint32_t>(address.size()));
    EXPECT_EQ(small, QByteArray(address.size() - 1, 'x'));

    // The walk stops when the callback says so.
    int calls = 0;
    EXPECT_EQ(
        lobby.EnumAddress([&calls](const Guid&, std::uint32_t, const void*) { return ++calls < 2; },
                          address.constData(), static_cast<std::uint32_t>(address.size())),
        DP_OK);
    EXPECT_EQ(calls, 2);

    // No elements at all still gives the total size.
    EXPECT_EQ(compound(lobby, {}).size(), 24);
    const DPCOMPOUNDADDRESSELEMENT missing{guids::AddressPhone, 3, nullptr};
    EXPECT_EQ(lobby.CreateCompoundAddress(&missing, 1, nullptr, &size), DPERR_INVALIDPARAMS);
}

TEST(CompoundAddress, MalformedAddressesAreRejectedBeforeAnyCallback) {
    DirectPlayLobby lobby;
    const QByteArray phone("12\0", 3);
    const QList<DPCOMPOUNDADDRESSELEMENT> elements{
        {guids::AddressServiceProvider, 16, guids::ServiceProviderSerial.bytes.data()},
        {guids::AddressPhone, 3, phone.constData()},
    };
    const QByteArray address = compound(lobby, elements);
    QList<Element> walked;
    // Every cut of the address is refused, whatever its length.
    for (int length = 1; length < address.size(); ++length) {
        EXPECT_EQ(walk(lobby, address.left(length), walked), DPERR_INVALIDPARAMS) << length;
        EXPECT_TRUE(walked.isEmpty()) << length;
    }
    // An element whose size runs past the end.
    QByteArray overlong = address;
    qToLittleEndian<std::uint32_t>(4, overlong.data() + 24 + 36 + 16);
    EXPECT_EQ(walk(lobby, overlong, walked), DPERR_INVALIDPARAMS);
    // A total size larger than the bytes given, and one smaller than its own element.
    QByteArray claimsMore = address;
    qToLittleEndian<std::uint32_t>(address.size() + 1, claimsMore.data() + 20);
    EXPECT_EQ(walk(lobby, claimsMore, walked), DPERR_INVALIDPARAMS);
    QByteArray claimsLess = address;
    qToLittleEndian<std::uint32_t>(10, claimsLess.data() + 20);
    EXPECT_EQ(walk(lobby, claimsLess, walked), DPERR_INVALIDPARAMS);
    EXPECT_EQ(
        lobby.EnumAddress([](const Guid&, std::uint32_t, const void*) { return true; }, nullptr, 0),
        DPERR_INVALIDPARAMS);
}

TEST(CompoundAddress, InitializeConnectionChoosesTheProviderAndChecksTheAddress) {
    SessionService service({modemEntry({})});
    DirectPlayLobby lobby;
    const QByteArray modem("Modem A\0", 8);
    const DPCOMPOUNDADDRESSELEMENT provider{guids::AddressServiceProvider, 16,
                                            guids::ServiceProviderModem.bytes.data()};
    const DPCOMPOUNDADDRESSELEMENT modemElement{guids::AddressModem, 8, modem.constData()};
    const DPCOMPOUNDADDRESSELEMENT serial{guids::AddressServiceProvider, 16,
                                          guids::ServiceProviderSerial.bytes.data()};
    const DPCOMPOUNDADDRESSELEMENT phoneFirst{guids::AddressPhone, 8, modem.constData()};

    EXPECT_EQ(service.CreateTransport()->InitializeConnection(
                  compound(lobby, {provider, modemElement}).constData(), 0),
              DP_OK);
    // The provider's own answer to the rest of the address comes back unchanged.
    EXPECT_EQ(service.CreateTransport()->InitializeConnection(
                  compound(lobby, {provider, phoneFirst}).constData(), 0),
              DPERR_INVALIDPARAMS);
    // A provider that is not installed, an address without its provider, a bare element list.
    EXPECT_EQ(
        service.CreateTransport()->InitializeConnection(compound(lobby, {serial}).constData(), 0),
        DPERR_INVALIDPARAMS);
    EXPECT_EQ(service.CreateTransport()->InitializeConnection(
                  compound(lobby, {modemElement}).constData(), 0),
              DPERR_INVALIDPARAMS);
    const QByteArray bare = compound(lobby, {provider}).mid(24);
    EXPECT_EQ(service.CreateTransport()->InitializeConnection(bare.constData(), 0),
              DPERR_INVALIDPARAMS);
    EXPECT_EQ(service.CreateTransport()->InitializeConnection(nullptr, 0), DPERR_INVALIDPARAMS);

    const auto transport = service.CreateTransport();
    const QByteArray good = compound(lobby, {provider});
    ASSERT_EQ(transport->InitializeConnection(good.constData(), 0), DP_OK);
    EXPECT_EQ(transport->InitializeConnection(good.constData(), 0), DPERR_ALREADYINITIALIZED);
}

TEST(CompoundAddress, ModemListComesAsOneModemElementEach) {
    const QStringList names{QStringLiteral("Modem A"), QString::fromUtf8("Z\u00fcrich \u20ac 56k")};
    SessionService service(
        {{guids::ServiceProviderSerial, QStringLiteral("Serial Connection"),
          [] { return std::make_unique<ModemListProvider>(QStringList(), DP_OK); }},
         modemEntry(names)});
    QList<QPair<Guid, QString>> listed;
    EXPECT_EQ(service.DirectPlayEnumerate([&listed](const Guid& guid, const QString& name) {
        listed.append({guid, name});
        return true;
    }),
              DP_OK);
    EXPECT_EQ(listed, (QList<QPair<Guid, QString>>{
                          {guids::ServiceProviderSerial, QStringLiteral("Serial Connection")},
                          {guids::ServiceProviderModem, QStringLiteral("Modem Connection")}}));
    EXPECT_EQ(service.DirectPlayCreate(guids::ServiceProviderTcpIp), nullptr);

    const auto modem = service.DirectPlayCreate(guids::ServiceProviderModem);
    ASSERT_NE(modem, nullptr);
    std::uint32_t size = 0;
    ASSERT_EQ(modem->GetPlayerAddress(0, nullptr, &size), DPERR_BUFFERTOOSMALL);
    QByteArray address(static_cast<qsizetype>(size), '\0');
    std::uint32_t tooSmall = size - 1;
    EXPECT_EQ(modem->GetPlayerAddress(0, address.data(), &tooSmall), DPERR_BUFFERTOOSMALL);
    EXPECT_EQ(tooSmall, size);
    ASSERT_EQ(modem->GetPlayerAddress(0, address.data(), &size), DP_OK);
    EXPECT_EQ(modem->GetPlayerAddress(5, address.data(), &size), DPERR_INVALIDPARAMS);

    DirectPlayLobby lobby;
    QList<Element> walked;
    ASSERT_EQ(walk(lobby, address, walked), DP_OK);
    QList<Element> modems;
    for (const Element& element : walked) {
        if (element.type == guids::AddressModem) {
            modems.append(element);
        }
    }
    ASSERT_EQ(modems.size(), 2);
    EXPECT_EQ(modems[0].data, QByteArray("Modem A\0", 8));
    EXPECT_EQ(modems[1].data, toWindows1252(names[1]) + '\0');

    // A provider that cannot list its modems gives its own failure.
    SessionService failing({modemEntry({}, DPERR_GENERIC)});
    const auto broken = failing.DirectPlayCreate(guids::ServiceProviderModem);
    ASSERT_NE(broken, nullptr);
    EXPECT_EQ(broken->GetPlayerAddress(0, nullptr, &size), DPERR_GENERIC);
}

}  // namespace
}  // namespace velmora
