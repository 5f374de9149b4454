#include "session/service/SessionWire.h"

#include "base/ByteLayout.h"
#include "session/Windows1252.h"

#include <algorithm>
#include <span>

namespace velmora::wire {

namespace {

constexpr qsizetype kWord = 4;
constexpr qsizetype kGuidSize = 16;

// The fields of session messages over the byte layouts: a GUID's 16 bytes, texts with their
// length in front, names, players and sessions.
class Writer {
public:
    explicit Writer(Type type, qsizetype reserve = 64) : m_out(reserve) {
        m_out.u32(static_cast<std::uint32_t>(type));
    }

    void u32(std::uint32_t value) { m_out.u32(value); }
    void guid(const Guid& value) {
        m_out.bytes(std::span(reinterpret_cast<const char*>(value.bytes.data()), kGuidSize));
    }
    void text(const QString& value) {
        const QByteArray bytes = toWindows1252(value);
        m_out.u32(static_cast<std::uint32_t>(bytes.size())).bytes(bytes);
    }
    void name(const DPNAME& value) {
        u32(value.hasShortName ? 1 : 0);
        text(value.hasShortName ? value.shortName : QString());
    }
    void player(const Player& value) {
        u32(value.id);
        name(value.name);
    }
    void session(const Session& value) {
        guid(value.instance);
        guid(value.application);
        u32(value.flags);
        u32(value.maxPlayers);
        u32(value.currentPlayers);
        text(value.name);
    }
    void raw(const void* data, std::uint32_t size) {
        m_out.bytes(std::span(static_cast<const char*>(data), size));
    }

    QByteArray take() { return m_out.take(); }

private:
    ByteWriter m_out;
};

// Reads fields in order; once a read would go past the end, every later read fails too.
class Reader {
public:
    explicit Reader(const QByteArray& bytes) : m_in(bytes) {}

    bool ok() const { return m_in.ok(); }
    bool atEnd() const { return m_in.atEnd(); }

    std::uint32_t u32() { return m_in.u32(); }
    Guid guid() {
        Guid value;
        const std::span<const char> bytes = m_in.bytes(kGuidSize);
        std::copy(bytes.begin(), bytes.end(), reinterpret_cast<char*>(value.bytes.data()));
        return value;
    }
    QString text() {
        const std::uint32_t length = u32();
        return fromWindows1252(m_in.copy(length));
    }
    DPNAME name() {
        DPNAME value;
        value.hasShortName = u32() != 0;
        value.shortName = text();
        return value;
    }
    Player player() {
        Player value;
        value.id = u32();
        value.name = name();
        return value;
    }
    Session session() {
        Session value;
        value.instance = guid();
        value.application = guid();
        value.flags = u32();
        value.maxPlayers = u32();
        value.currentPlayers = u32();
        value.name = text();
        return value;
    }
    // A count of items that each take at least minItemSize bytes, checked against what is left
    // so that a forged count cannot make the reader reserve huge lists.
    std::uint32_t count(qsizetype minItemSize) {
        const std::uint32_t value = u32();
        if (value > m_in.remaining() / static_cast<std::size_t>(minItemSize)) {
            m_in.fail();
            return 0;
        }
        return value;
    }
    QByteArray rest() { return m_in.copy(m_in.remaining()); }

private:
    ByteReader m_in;
};

constexpr qsizetype kMinPlayerSize = 3 * kWord;
constexpr qsizetype kMinSessionSize = 2 * kGuidSize + 4 * kWord;

QByteArray encodeOne(const Hello& m) {
    Writer w(Type::Hello);
    w.u32(m.magic);
    w.u32(m.version);
    return w.take();
}
QByteArray encodeOne(const Refuse& m) {
    Writer w(Type::Refuse);
    w.u32(m.magic);
    w.u32(m.version);
    return w.take();
}
QByteArray encodeOne(const EnumRequest& m) {
    Writer w(Type::EnumRequest);
    w.u32(m.serial);
    w.guid(m.application);
    return w.take();
}
QByteArray encodeOne(const EnumReply& m) {
    Writer w(Type::EnumReply);
    w.u32(m.serial);
    w.u32(static_cast<std::uint32_t>(m.sessions.size()));
    for (const Session& session : m.sessions) {
        w.session(session);
    }
    return w.take();
}
QByteArray encodeOne(const JoinRequest& m) {
    Writer w(Type::JoinRequest);
    w.u32(m.serial);
    w.guid(m.instance);
    return w.take();
}
QByteArray encodeOne(const JoinReply& m) {
    Writer w(Type::JoinReply);
    w.u32(m.serial);
    w.u32(static_cast<std::uint32_t>(m.result));
    w.session(m.session);
    w.u32(static_cast<std::uint32_t>(m.players.size()));
    for (const Player& player : m.players) {
        w.player(player);
    }
    return w.take();
}
QByteArray encodeOne(const CreatePlayerRequest& m) {
    Writer w(Type::CreatePlayerRequest);
    w.u32(m.serial);
    w.name(m.name);
    return w.take();
}
QByteArray encodeOne(const CreatePlayerReply& m) {
    Writer w(Type::CreatePlayerReply);
    w.u32(m.serial);
    w.u32(static_cast<std::uint32_t>(m.result));
    w.u32(m.id);
    return w.take();
}
QByteArray encodeOne(const PlayerCreated& m) {
    Writer w(Type::PlayerCreated);
    w.player(m.player);
    return w.take();
}
QByteArray encodeOne(const PlayerDestroyed& m) {
    Writer w(Type::PlayerDestroyed);
    w.u32(m.id);
    return w.take();
}
QByteArray encodeOne(const Data& m) {
    return encodeData(m.from, m.to, m.payload.constData(),
                      static_cast<std::uint32_t>(m.payload.size()));
}

std::optional<Message> decodeBody(Type type, Reader& r) {
    switch (type) {
        case Type::Hello: {
            Hello m;
            m.magic = r.u32();
            m.version = r.u32();
            return m;
        }
        case Type::Refuse: {
            Refuse m;
            m.magic = r.u32();
            m.version = r.u32();
            return m;
        }
        case Type::EnumRequest: {
            EnumRequest m;
            m.serial = r.u32();
            m.application = r.guid();
            return m;
        }
        case Type::EnumReply: {
            EnumReply m;
            m.serial = r.u32();
            const std::uint32_t count = r.count(kMinSessionSize);
            for (std::uint32_t i = 0; i < count && r.ok(); ++i) {
                m.sessions.append(r.session());
            }
            return m;
        }
        case Type::JoinRequest: {
            JoinRequest m;
            m.serial = r.u32();
            m.instance = r.guid();
            return m;
        }
        case Type::JoinReply: {
            JoinReply m;
            m.serial = r.u32();
            m.result = static_cast<HRESULT>(r.u32());
            m.session = r.session();
            const std::uint32_t count = r.count(kMinPlayerSize);
            for (std::uint32_t i = 0; i < count && r.ok(); ++i) {
                m.players.append(r.player());
            }
            return m;
        }
        case Type::CreatePlayerRequest: {
            CreatePlayerRequest m;
            m.serial = r.u32();
            m.name = r.name();
            return m;
        }
        case Type::CreatePlayerReply: {
            CreatePlayerReply m;
            m.serial = r.u32();
            m.result = static_cast<HRESULT>(r.u32());
            m.id = r.u32();
            return m;
        }
        case Type::PlayerCreated:
            return PlayerCreated{r.player()};
        case Type::PlayerDestroyed:
            return PlayerDestroyed{r.u32()};
        case Type::Data: {
            Data m;
            m.from = r.u32();
            m.to = r.u32();
            if (r.ok()) {
                m.payload = r.rest();
            }
            return m;
        }
    }
    return std::nullopt;
}

}  // namespace

QByteArray encode(const Message& message) {
    return std::visit([](const auto& m) { return encodeOne(m); }, message);
}

QByteArray encodeData(DPID from, DPID to, const void* payload, std::uint32_t size) {
    Writer w(Type::Data, 3 * kWord + static_cast<qsizetype>(size));
    w.u32(from);
    w.u32(to);
    w.raw(payload, size);
    return w.take();
}

std::optional<Message> decode(const QByteArray& bytes) {
    Reader r(bytes);
    const auto type = static_cast<Type>(r.u32());
    if (!r.ok()) {
        return std::nullopt;
    }
    std::optional<Message> message = decodeBody(type, r);
    if (!message || !r.atEnd()) {
        return std::nullopt;
    }
    return message;
}

}  // namespace velmora::wire
