// The modem provider over the emulated telephone exchange: two session components call, talk
// and hang up through modems on pseudo-terminals; failed calls; lost calls; the modem list.

#include "base/IniFile.h"
#include "modem-exchange/ModemExchange.h"
#include "session/DXPlay.h"
#include "session/DXPlayError.h"
#include "session/modem/ModemProvider.h"
#include "session/modem/ModemResults.h"
#include "session/service/SessionService.h"
#include "session/service/SessionWire.h"
#include "support/RecordingPeer.h"
#include "support/SessionSteps.h"
#include "support/TestEnvironment.h"

#include <QCoreApplication>
#include <QDir>
#include <QElapsedTimer>
#include <QFile>
#include <QTimer>

#include <gtest/gtest.h>

#include <cstring>

namespace velmora {
namespace {

const QString ProviderName = QStringLiteral("Modem Connection");

using test::pumpUntil;

// The caller gives up after noAnswerMs; long enough by default for the host's modem to finish
// hanging up after one call and to answer the next.
ExchangeSettings exchangeSettings(std::uint32_t noAnswerMs = 30000) {
    ExchangeSettings settings;
    settings.rateBps = 56000;
    settings.ringIntervalMs = 100;
    settings.noAnswerMs = noAnswerMs;
    settings.handshakeMs = 50;
    settings.guardTimeMs = 100;
    return settings;
}

// Short, but with room for a busy machine: no timing here decides a result by a hair.
ModemProviderOptions quickOptions() {
    ModemProviderOptions options;
    options.dialer.commandTimeoutMs = 3000;
    options.dialer.dialTimeoutMs = 20000;
    options.dialer.answerTimeoutMs = 20000;
    options.dialer.guardTimeMs = 200;
    options.dialer.dtrDropMs = 50;
    options.link.helloIntervalMs = 200;
    options.link.keepAliveMs = 300;
    options.link.silenceLimitMs = 3000;
    options.systemPorts = [] { return QList<SerialPortChoice>{}; };
    return options;
}

// A data folder whose modem list names the exchange's modems.
QString folderWithModems(const QList<std::pair<QString, std::string>>& modems) {
    const QString folder = test::makeTempFolder(QStringLiteral("modems"));
    IniFile list;
    int index = 0;
    for (const auto& [name, device] : modems) {
        const QString section = QStringLiteral("Modem%1").arg(++index);
        list.setValue(section, "Name", name);
        list.setValue(section, "Device", QString::fromStdString(device));
        list.setValue(section, "Init", "AT&C1&D2");
    }
    EXPECT_TRUE(list.save(modemListPath(folder)));
    return folder;
}

class ScriptedPrompts : public ModemPrompts {
public:
    void askModem(const QStringList& modems, const ModemChoice& last, bool needPhone,
                  PromptReply<ModemChoice> reply) override {
        ++asked;
        offered = modems;
        preset = last;
        phoneAsked = needPhone;
        reply(answer);
    }
    void showModemError(const QString& message) override { errors.append(message); }

    std::optional<ModemChoice> answer;
    int asked = 0;
    QStringList offered;
    ModemChoice preset;
    bool phoneAsked = false;
    QStringList errors;
};

struct Peer : test::RecordingPeer {
    Peer(const QString& folder, ModemPrompts* prompts = nullptr,
         ModemProviderOptions options = quickOptions())
        : RecordingPeer({guids::ServiceProviderModem, ProviderName, [=] {
                             return std::make_unique<ModemProvider>(folder, prompts, options);
                         }}) {}
    void useModem(const QString& modem, const QString& phone) {
        play.ModemSetting().Enabled = true;
        play.ModemSetting().ModemName = modem;
        play.ModemSetting().PhoneNumber = phone;
        play.setProviderName(ProviderName);
    }
    void host(const QString& modem, const QString& name) {
        useModem(modem, {});
        test::openSession(play, true, "Chat", name);
    }
    // Dials, and looks for the session as the connect procedure does.
    HRESULT call(const QString& modem, const QString& phone) {
        useModem(modem, phone);
        const HRESULT first = test::enumerateSessions(play);
        for (int i = 0; first == DP_OK && play.Sessions().isEmpty() && i < 20; ++i) {
            test::enumerateSessions(play);
        }
        return first;
    }
    bool join(const QString& modem, const QString& phone, const QString& name) {
        if (call(modem, phone) != DP_OK || play.Sessions().isEmpty()) {
            return false;
        }
        test::openSession(play, false, play.Sessions().first().Name, name);
        return play.Opened();
    }
    void send(const QByteArray& message) {
        play.SendMessage(DPID_ALLPLAYERS, message.constData(), message.size());
    }
};

// A message made mostly of "+++", as a file block might be.
// A numbered message full of "+++". Its first word, the kind of a peer message, is none that
// takes the interactive lane (0 and 4), so all of them keep one order on the line.
QByteArray escapes(int number, int size) {
    QByteArray message = QByteArray("+++").repeated(size / 3 + 1).left(size);
    const int kind = 100 + number;
    std::memcpy(message.data(), &kind, sizeof kind);
    return message;
}

TEST(ModemProviderTest, CallAnswerTalkHangUpAndCallAgain) {
    ModemExchange exchange(exchangeSettings());
    const QString folder = folderWithModems({{"Ann's modem", exchange.addModem("100")},
                                             {"Bob's modem", exchange.addModem("200")},
                                             {"Carol's modem", exchange.addModem("300")}});
    Peer ann(folder);
    ann.host("Ann's modem", "Ann");
    ASSERT_TRUE(ann.play.Opened());  // at once, before any call

    Peer bob(folder);
    ASSERT_EQ(bob.call("Bob's modem", "(100)"), DP_OK);
    ASSERT_FALSE(bob.play.Sessions().isEmpty());
    // Looking again while the call is up does not dial again.
    EXPECT_EQ(test::enumerateSessions(bob.play), DP_OK);
    EXPECT_EQ(exchange.dialCount("200"), 1);
    test::openSession(bob.play, false, bob.play.Sessions().first().Name, "Bob");
    ASSERT_TRUE(bob.play.Opened());
    ASSERT_TRUE(pumpUntil([&] { return ann.events.contains("add Bob"); }));

    // A third caller finds the line busy.
    Peer carol(folder);
    EXPECT_EQ(carol.call("Carol's modem", "100"), MODEMERR_BUSY);

    // Messages both ways, with "+++" all through them; the call stays up.
    for (int i = 0; i < 20; ++i) {
        bob.send(escapes(i, 8 + i * 97));
        ann.send(escapes(i, 8 + i * 31));
    }
    ASSERT_TRUE(pumpUntil([&] { return ann.messages.size() == 20 && bob.messages.size() == 20; }));
    for (int i = 0; i < 20; ++i) {
        EXPECT_EQ(ann.messages[i], escapes(i, 8 + i * 97)) << i;
        EXPECT_EQ(bob.messages[i], escapes(i, 8 + i * 31)) << i;
    }

    // Bob hangs up: Ann keeps her session and her modem answers the next call, which may come
    // from Bob's modem again.
    bob.play.Close();
    ASSERT_TRUE(pumpUntil([&] { return ann.events.contains("delete Bob"); }));
    ASSERT_TRUE(pumpUntil([&] { return !bob.play.Releasing(); })) << "the modem is let go";
    EXPECT_TRUE(ann.play.Opened());
    Peer bobAgain(folder);
    ASSERT_TRUE(bobAgain.join("Bob's modem", "100", "Bob"));
    EXPECT_EQ(exchange.dialCount("200"), 2);
    ASSERT_TRUE(pumpUntil([&] { return ann.events.count("add Bob") == 2; }));
    bobAgain.send("hello again");
    ASSERT_TRUE(pumpUntil([&] { return ann.messages.size() == 21; }));
    EXPECT_EQ(ann.messages.last(), "hello again");
    bobAgain.play.Close();
    ann.play.Close();
}

TEST(ModemProviderTest, CallsThatDoNotComeAboutGiveTheModemsCode) {
    ModemExchange exchange(exchangeSettings(800));
    const std::string silentDevice = exchange.addModem("400");  // nobody answers there
    const QString folder =
        folderWithModems({{"Bob's modem", exchange.addModem("200")}, {"Silent", silentDevice}});
    Peer bob(folder);
    EXPECT_EQ(bob.call("Bob's modem", "400"), MODEMERR_NOANSWER);
    EXPECT_EQ(bob.call("Bob's modem", "200"), MODEMERR_BUSY);  // its own number
    EXPECT_EQ(bob.call("Bob's modem", "999"), MODEMERR_NOCARRIER);
    exchange.setPlugged("200", false);
    EXPECT_EQ(bob.call("Bob's modem", "400"), MODEMERR_NODIALTONE);
    exchange.setPlugged("200", true);
    EXPECT_EQ(bob.call("No such modem", "400"), MODEMERR_NODEVICE);
    EXPECT_TRUE(bob.play.Sessions().isEmpty());
    EXPECT_FALSE(bob.play.Opened());
    // After all that the modem still works.
    EXPECT_EQ(bob.call("Bob's modem", "400"), MODEMERR_NOANSWER);
    EXPECT_EQ(exchange.dialCount("200"), 5);
}

TEST(ModemProviderTest, WhileDiallingTheUiThreadIsFreeAndACloseHangsUp) {
    ModemExchange exchange(exchangeSettings(5000));  // nobody answers at 400
    const std::string silentDevice = exchange.addModem("400");
    const QString folder =
        folderWithModems({{"Bob's modem", exchange.addModem("200")}, {"Silent", silentDevice}});
    Peer bob(folder);
    bob.useModem("Bob's modem", "400");
    int searches = 0;
    QObject::connect(&bob.play, &TCustomDXPlay::OnEnumerated,
                     [&searches](TCustomDXPlay&, HRESULT) { ++searches; });
    bob.play.EnumerateSessions(0);  // returns at once: the worker dials
    bool turned = false;
    QTimer::singleShot(300, [&] {
        turned = true;
        bob.play.Close();  // what Esc in the connect dialog does
    });
    ASSERT_TRUE(test::pumpUntil([&] { return turned && !bob.play.Releasing(); }));
    EXPECT_EQ(searches, 0) << "a closed search reports nothing";
    EXPECT_FALSE(bob.play.Opened());
    // The modem was hung up and dials again.
    EXPECT_EQ(bob.call("Bob's modem", "400"), MODEMERR_NOANSWER);
    EXPECT_EQ(exchange.dialCount("200"), 2);
}

// Ann's modem (100) answers; Bob's (200) has called it and Bob has joined Ann's session.
struct CallUp {
    explicit CallUp(ModemExchange& exchange, ModemPrompts* bobsPrompts = nullptr)
        : folder(folderWithModems({{"Ann's modem", exchange.addModem("100")},
                                   {"Bob's modem", exchange.addModem("200")}})),
          ann(folder),
          bob(folder, bobsPrompts) {
        ann.host("Ann's modem", "Ann");
        EXPECT_TRUE(bob.join("Bob's modem", "100", "Bob"));
        EXPECT_TRUE(pumpUntil([&] { return ann.events.contains("add Bob"); }));
    }

    // Once both modems are let go, a new call between them comes about.
    void callAgain() const {
        ASSERT_TRUE(pumpUntil([&] { return !ann.play.Releasing() && !bob.play.Releasing(); }));
        Peer annAgain(folder);
        annAgain.host("Ann's modem", "Ann");
        Peer bobAgain(folder);
        EXPECT_TRUE(bobAgain.join("Bob's modem", "100", "Bob"));
        bobAgain.play.Close();
        annAgain.play.Close();
    }

    const QString folder;
    Peer ann;
    Peer bob;
};

TEST(ModemProviderTest, ALineThatDropsIsALostSessionOnBothSides) {
    ModemExchange exchange(exchangeSettings());
    CallUp call(exchange);
    auto& [folder, ann, bob] = call;

    // Bob's telephone line is pulled: both modems put "NO CARRIER" into the data, which is no
    // sign; the links hear nothing more and the session is lost.
    exchange.setPlugged("200", false);
    ASSERT_TRUE(pumpUntil([&] { return !ann.play.Opened() && !bob.play.Opened(); }));
    EXPECT_EQ(ann.events.mid(ann.events.size() - 2), QStringList({"lost", "close"}));
    EXPECT_EQ(bob.events.mid(bob.events.size() - 2), QStringList({"lost", "close"}));

    // Both modems are on-hook again: a new call works.
    exchange.setPlugged("200", true);
    call.callAgain();
}

TEST(ModemProviderTest, WhenTheHostHangsUpTheCallersSessionEndsAsLost) {
    ModemExchange exchange(exchangeSettings());
    ScriptedPrompts prompts;
    CallUp call(exchange, &prompts);
    auto& [folder, ann, bob] = call;

    // A call that is hung up cannot wait for the next one: no new host, no prompt.
    ann.play.Close();
    ASSERT_TRUE(pumpUntil([&] { return !bob.play.Opened(); }));
    EXPECT_EQ(bob.events.mid(bob.events.size() - 3), QStringList({"delete Ann", "lost", "close"}));
    EXPECT_EQ(prompts.asked, 0);
    EXPECT_TRUE(prompts.errors.isEmpty());

    // Bob's modem is free for the next call.
    call.callAgain();
}

TEST(ModemProviderTest, ACallerOfAnotherLinkVersionIsToldAndTheHostAnswersTheNextCall) {
    ModemExchange exchange(exchangeSettings());
    const QString folder = folderWithModems(
        {{"Ann's modem", exchange.addModem("100")}, {"Bob's modem", exchange.addModem("200")}});
    Peer ann(folder);
    ann.host("Ann's modem", "Ann");
    ModemProviderOptions newer = quickOptions();
    newer.link.version = LinkEngine::kVersion + 1;
    Peer bob(folder, nullptr, newer);
    EXPECT_EQ(bob.call("Bob's modem", "100"), DPERR_INCOMPATIBLEPEER);
    EXPECT_FALSE(bob.play.Opened());

    // Ann's session and modem wait on; a caller of her version gets in.
    Peer bobAgain(folder);
    ASSERT_TRUE(bobAgain.join("Bob's modem", "100", "Bob"));
    ASSERT_TRUE(pumpUntil([&] { return ann.events.contains("add Bob"); }));
    EXPECT_FALSE(ann.events.contains("lost"));
    bobAgain.play.Close();
    ann.play.Close();
}

TEST(ModemProviderTest, AsksForWhatTheAddressLeavesOutPresetWithTheLastChoice) {
    ModemExchange exchange(exchangeSettings());
    const std::string device = exchange.addModem("200");
    const QString folder = folderWithModems({{"Bob's modem", device}});
    ScriptedPrompts prompts;
    ModemProviderOptions options = quickOptions();
    options.systemPorts = [] {
        return QList<SerialPortChoice>{{"ttyACM0", "Zoom USB Modem"}, {"ttyS0", ""}};
    };
    std::unique_ptr<Line> line;
    {
        ModemProvider provider(folder, &prompts, options);
        // No modem named ("Other modem..."): cancelling is a silent abort.
        ASSERT_EQ(provider.initialize({}), DP_OK);
        EXPECT_EQ(provider.connect(line), DPERR_USERCANCEL);
        EXPECT_EQ(prompts.offered,
                  QStringList({"Bob's modem", "Zoom USB Modem (ttyACM0)", "ttyS0"}));
        EXPECT_TRUE(prompts.phoneAsked);
        EXPECT_EQ(prompts.preset, ModemChoice{});
        EXPECT_TRUE(prompts.errors.isEmpty());

        // A modem but no number: the question comes with the modem; the call dials its own
        // number here and finds it busy.
        ASSERT_EQ(provider.initialize({{guids::AddressModem, "Bob's modem\0"}}), DP_OK);
        prompts.answer = ModemChoice{"Bob's modem", "200"};
        EXPECT_EQ(provider.connect(line), MODEMERR_BUSY);
        EXPECT_EQ(prompts.preset.modem, "Bob's modem");
        EXPECT_EQ(line, nullptr);
        // A retry with the same provider does not ask again.
        EXPECT_EQ(provider.connect(line), MODEMERR_BUSY);
        EXPECT_EQ(prompts.asked, 2);
    }
    // A new provider, a new question, preset with the last answer; hosting asks for no number
    // and keeps the last one.
    ModemProvider host(folder, &prompts, options);
    ASSERT_EQ(host.initialize({}), DP_OK);
    prompts.answer = ModemChoice{QString::fromStdString(device), {}};
    ASSERT_EQ(host.listen(line), DP_OK);
    EXPECT_NE(line, nullptr);
    EXPECT_EQ(prompts.preset, (ModemChoice{"Bob's modem", "200"}));
    EXPECT_FALSE(prompts.phoneAsked);
    EXPECT_EQ(readLastModemChoice(folder), (ModemChoice{QString::fromStdString(device), "200"}));
    line.reset();

    // Full address, no question; a modem that is not there is told.
    ASSERT_EQ(host.initialize({{guids::AddressModem, "Gone\0"}, {guids::AddressPhone, "1\0"}}),
              DP_OK);
    EXPECT_EQ(host.connect(line), MODEMERR_NODEVICE);
    EXPECT_EQ(prompts.asked, 3);
    EXPECT_EQ(prompts.errors.size(), 1);
    ASSERT_EQ(host.initialize({{guids::AddressModem, "/dev/no-such-modem\0"}}), DP_OK);
    EXPECT_EQ(host.listen(line), MODEMERR_NODEVICE);
    EXPECT_EQ(prompts.errors.size(), 2);
    EXPECT_TRUE(prompts.errors.last().contains("/dev/no-such-modem"));
}

TEST(ModemProviderTest, ModemNamesAreReadOnceAndAFailedReadIsTriedAgain) {
    const QString folder = test::makeTempFolder(QStringLiteral("names"));
    ASSERT_TRUE(QDir().mkpath(modemListPath(folder)));  // a folder where the file belongs
    ModemProviderOptions options = quickOptions();
    options.systemPorts = [] {
        return QList<SerialPortChoice>{{"ttyACM0", "Zoom USB Modem"}, {"ttyACM1", ""}};
    };
    Peer peer(folder, nullptr, options);
    try {
        peer.play.ModemSetting().ModemNames();
        ADD_FAILURE() << "an unreadable list was read";
    } catch (const EDXPlayError& error) {
        EXPECT_EQ(error.message(), "Modem list cannot be acquired");
    }

    ASSERT_TRUE(QDir(modemListPath(folder)).removeRecursively());
    QFile file(modemListPath(folder));
    ASSERT_TRUE(file.open(QIODevice::WriteOnly));
    file.write(
        "[Modem1]\nName=Desk modem\nDevice=ttyACM1\nDial=Pulse\nBaud=57600\nFlow=RtsCts\n"
        "[Modem2]\nName=desk MODEM\nDevice=/dev/ttyS1\n"
        "[Modem3]\nDevice=/dev/ttyS2\n[Modem5]\nName=Not reached\nDevice=ttyS3\n");
    file.close();
    const QStringList expected = {"Desk modem", "/dev/ttyS2", "Zoom USB Modem (ttyACM0)"};
    EXPECT_EQ(peer.play.ModemSetting().ModemNames(), expected);
    ASSERT_TRUE(QFile::remove(modemListPath(folder)));
    EXPECT_EQ(peer.play.ModemSetting().ModemNames(), expected);  // kept for the program's run

    // What the list says of each modem.
    QList<ModemEntry> modems;
    QString error;
    ASSERT_TRUE(file.open(QIODevice::WriteOnly));
    file.write("[Modem1]\nName=Desk modem\nDevice=ttyACM1\nDial=Pulse\nBaud=57600\nFlow=RtsCts\n");
    file.close();
    ASSERT_EQ(readModemList(folder, options.systemPorts(), modems, error), DP_OK);
    ASSERT_EQ(modems.size(), 2);
    EXPECT_EQ(modems[0],
              (ModemEntry{"Desk modem", "ttyACM1", {}, true, 57600, FlowControl::RtsCts}));
    EXPECT_EQ(modems[1].device, "ttyACM0");
    EXPECT_FALSE(modems[1].pulseDial);
}

TEST(ModemProviderTest, DialStringsKeepOnlyDialCharacters) {
    EXPECT_EQ(dialString("(030) 123-45 67"), "0301234567");
    EXPECT_EQ(dialString("9,w555*12#"), "9,W555*12#");
    // Nothing that would end the command or start another.
    EXPECT_EQ(dialString("555\r\nATH0;+++"), "555T0");
    EXPECT_EQ(dialString("call me"), "");
}

}  // namespace
}  // namespace velmora
