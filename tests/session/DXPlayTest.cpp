#include "FakeDirectPlay.h"

#include "session/DXPlay.h"
#include "session/SystemMessages.h"
#include "support/SessionSteps.h"
#include "support/TestEnvironment.h"

#include <QCoreApplication>
#include <QElapsedTimer>
#include <QStringList>
#include <QThread>

#include <gtest/gtest.h>

#include <atomic>
#include <thread>

namespace velmora {
namespace {

using test::FakeLobby;
using test::FakeSystem;

const QString AppGuid = QStringLiteral("{A2196E45-287F-4F8F-987A-382C87886EED}");
constexpr DPID LocalId = 1000;
constexpr DPID RemoteId = 2000;

// Runs the UI thread's event loop until the condition holds; false after a generous limit.
using test::pumpUntil;

QByteArray message(std::uint32_t kind, const QByteArray& rest = {}) {
    QByteArray bytes(4, '\0');
    std::memcpy(bytes.data(), &kind, 4);
    return bytes + rest;
}

QString errorOf(const std::function<void()>& action) {
    try {
        action();
    } catch (const EDXPlayError& error) {
        return error.message();
    }
    return QStringLiteral("(no error)");
}

// A component over the fake service, recording its events as one line each.
struct Fixture {
    // Declared before the component: its destructor still raises OnClose.
    FakeSystem system;
    QStringList events;
    QStringList shownErrors;
    TDXPlay play{system};

    Fixture() {
        play.setGUID(AppGuid);
        QObject::connect(&play, &TCustomDXPlay::OnOpen, [this](TCustomDXPlay& sender) {
            EXPECT_EQ(&sender, &play);
            events << "open";
        });
        QObject::connect(&play, &TCustomDXPlay::OnClose, [this](TCustomDXPlay&) {
            // The session's values are still there when OnClose comes.
            events << QStringLiteral("close %1 %2")
                          .arg(play.SessionName())
                          .arg(play.Players().Count());
        });
        QObject::connect(&play, &TCustomDXPlay::OnAddPlayer,
                         [this](TCustomDXPlay&, TDXPlayPlayer& p) {
                             events << QStringLiteral("add %1 %2").arg(p.ID).arg(p.Name);
                         });
        QObject::connect(&play, &TCustomDXPlay::OnDeletePlayer,
                         [this](TCustomDXPlay&, TDXPlayPlayer& p) {
                             events << QStringLiteral("delete %1 in %2")
                                           .arg(p.ID)
                                           .arg(play.Players().IndexOf(p.ID));
                         });
        QObject::connect(&play, &TCustomDXPlay::OnSessionLost,
                         [this](TCustomDXPlay&) { events << "lost"; });
        QObject::connect(
            &play, &TCustomDXPlay::OnMessage,
            [this](TCustomDXPlay&, TDXPlayPlayer& from, const void* data, std::int32_t size) {
                events << QStringLiteral("message %1 %2 %3")
                              .arg(from.ID)
                              .arg(size)
                              .arg(QString::fromLatin1(
                                  QByteArray(static_cast<const char*>(data) + 4, size - 4)));
            });
        QObject::connect(
            &play, &TCustomDXPlay::OnSendComplete,
            [this](TCustomDXPlay&, std::uint32_t id, TDXPlaySendCompleteResult result,
                   std::int32_t time) {
                events << QStringLiteral("complete %1 %2 %3").arg(id).arg(result).arg(time);
            });
        play.setExceptionDisplay([this](const QString& text) { shownErrors << text; });
    }

    void host() {
        play.setProviderName(QStringLiteral("serial connection"));
        test::openSession(play, true, QStringLiteral("Chat"), QStringLiteral("Ann"));
    }
    // Closes and waits until the goodbye has gone out on the worker.
    void closeAndRelease() {
        play.Close();
        ASSERT_TRUE(pumpUntil([&] { return !play.Releasing(); }));
    }
    void post(DPID from, const QByteArray& bytes) { system.script->post(from, bytes); }
    bool delivered(int count) {
        return pumpUntil([&] { return events.size() >= count; });
    }
};

TEST(DXPlayTest, HostAloneOpensWithItsOwnParticipantAndClosesOnce) {
    Fixture f;
    f.host();
    EXPECT_EQ(f.events, QStringList({"open", "add 1000 Ann"}));
    EXPECT_TRUE(f.play.Opened());
    EXPECT_TRUE(f.play.IsHost());
    EXPECT_EQ(f.play.Players().Count(), 1);
    EXPECT_FALSE(f.play.LocalPlayer()->RemotePlayer);
    EXPECT_EQ(f.system.script->openFlags, DPOPEN_CREATE);
    EXPECT_EQ(f.system.script->openedDesc.dwFlags, 0x44u);
    EXPECT_EQ(f.system.script->openedDesc.dwSize, 80u);
    EXPECT_EQ(f.system.script->openedDesc.guidApplication.toString(), AppGuid);
    EXPECT_EQ(f.play.ProviderName(), "serial connection");

    f.closeAndRelease();
    EXPECT_EQ(f.events.last(), "close Chat 1");
    EXPECT_EQ(f.system.script->destroyed, QList<DPID>({LocalId}));
    EXPECT_EQ(f.play.ProviderName(), "");
    EXPECT_EQ(f.play.SessionName(), "");
    EXPECT_EQ(f.play.Players().Count(), 0);
    EXPECT_EQ(f.play.LocalPlayer(), nullptr);
    EXPECT_TRUE(f.play.IsHost()) << "IsHost survives Close";

    // A second Close raises nothing.
    f.play.Close();
    EXPECT_EQ(f.events.size(), 3);
}

TEST(DXPlayTest, JoiningFindsTheSessionWithoutRegardToCaseAndLearnsTheHost) {
    Fixture f;
    DPSESSIONDESC2 first;
    first.guidApplication = *Guid::fromString(AppGuid);
    first.guidInstance = *Guid::fromString("{11111111-0000-0000-0000-000000000000}");
    first.sessionName = "Alpha";
    DPSESSIONDESC2 second = first;
    second.guidInstance = *Guid::fromString("{22222222-0000-0000-0000-000000000000}");
    second.sessionName = "ALPHA";
    DPSESSIONDESC2 otherApplication = first;
    otherApplication.guidApplication = Guid();
    otherApplication.sessionName = "Beta";
    f.system.script->sessions = {otherApplication, first, second};
    f.system.script->remotePlayers = {{RemoteId, "Host"}};

    f.play.setProviderName("Modem Connection");
    EXPECT_EQ(test::enumerateSessions(f.play), DP_OK);
    EXPECT_EQ(errorOf([&] { f.play.OpenSession(false, "Beta", "Bob"); }),
              "Session 'Beta' not found");
    EXPECT_EQ(f.play.Sessions().size(), 2);
    test::openSession(f.play, false, "alpha", "Bob");
    EXPECT_EQ(f.system.script->openFlags, DPOPEN_JOIN);
    EXPECT_EQ(f.system.script->openedDesc.guidInstance, first.guidInstance);
    EXPECT_EQ(f.events, QStringList({"open", "add 1000 Bob"}));
    EXPECT_EQ(f.play.Players().Count(), 2);
    EXPECT_TRUE(f.play.Players().Items(1).RemotePlayer);
    EXPECT_EQ(f.play.Players().Items(1).Name, "Host");
    EXPECT_FALSE(f.play.IsHost());
    EXPECT_EQ(f.play.SessionName(), "alpha");
}

TEST(DXPlayTest, DeliversMessagesAndNoticesInOrderOnTheUiThread) {
    Fixture f;
    f.host();
    f.events.clear();
    std::thread line([&] {
        CreatePlayerNotice own;
        own.id = LocalId;
        f.post(DPID_SYSMSG, encodeCreatePlayer(own));  // our own creation: nothing
        CreatePlayerNotice created;
        created.id = RemoteId;
        created.name = DPNAME{true, "Bob"};
        f.post(DPID_SYSMSG, encodeCreatePlayer(created));
        f.post(RemoteId, message(1, "hello"));
        f.post(RemoteId, QByteArray("abc"));  // too short: dropped
        f.post(RemoteId, message(2, QByteArray(100000, 'x')).left(8));
        f.post(DPID_SYSMSG, encodeDestroyPlayer({DPPLAYERTYPE_PLAYER, 4242}));  // unknown
        f.post(DPID_SYSMSG, encodeHost());
        SendCompleteNotice ok{LocalId, RemoteId, 0, 7, DP_OK, 12};
        SendCompleteNotice aborted{LocalId, RemoteId, 0, 8, DPERR_ABORTED, 13};
        SendCompleteNotice failed{LocalId, RemoteId, 0, 9, DPERR_GENERIC, 14};
        SendCompleteNotice notOurs{RemoteId, LocalId, 0, 10, DP_OK, 15};
        for (const auto& notice : {ok, aborted, failed, notOurs}) {
            f.post(DPID_SYSMSG, encodeSendComplete(notice));
        }
        f.post(DPID_SYSMSG, encodeDestroyPlayer({DPPLAYERTYPE_PLAYER, RemoteId}));
    });
    line.join();
    ASSERT_TRUE(pumpUntil([&] { return f.system.script->queued() == 0; }));
    EXPECT_EQ(f.events, QStringList({"add 2000 Bob", "message 2000 9 hello", "message 2000 8 xxxx",
                                     "complete 7 0 12", "complete 8 1 13", "complete 9 2 14",
                                     "delete 2000 in 1"}));
    EXPECT_EQ(f.play.Players().Count(), 1);
    EXPECT_TRUE(f.play.IsHost());
    EXPECT_TRUE(f.shownErrors.isEmpty());

    // A message from a stranger is shown as an error and ends that run; the next one is read at
    // the next wake-up.
    f.events.clear();
    f.post(4242, message(1, "who"));
    ASSERT_TRUE(pumpUntil([&] { return !f.shownErrors.isEmpty(); }));
    EXPECT_EQ(f.shownErrors, QStringList({"Player's specified ID is not found"}));
    EXPECT_FALSE(f.play.InDelivery());
}

TEST(DXPlayTest, SessionLostRaisesLostThenCloseAndReadsNoFurtherMessage) {
    Fixture f;
    f.host();
    f.events.clear();
    f.post(DPID_SYSMSG, encodeSessionLost());
    f.post(DPID_SYSMSG, encodeHost());
    ASSERT_TRUE(f.delivered(2));
    EXPECT_EQ(f.events, QStringList({"lost", "close Chat 1"}));
    EXPECT_FALSE(f.play.Opened());
    EXPECT_EQ(f.play.ProviderName(), "");
    EXPECT_EQ(f.play.Players().Count(), 0);
    EXPECT_EQ(f.system.script->queued(), 1) << "the message after the loss stays unread";

    // The component opens again after a close from inside its own delivery.
    f.events.clear();
    f.host();
    f.post(DPID_SYSMSG, encodeHost());
    EXPECT_EQ(f.events, QStringList({"open", "add 1000 Ann"}));
    ASSERT_TRUE(pumpUntil([&] { return f.system.script->queued() == 0; }));
}

TEST(DXPlayTest, CloseFromAMessageHandlerAndAPendingHandOverNeverDeadlock) {
    Fixture f;
    f.host();
    QObject::disconnect(&f.play, &TCustomDXPlay::OnMessage, nullptr, nullptr);
    QObject::connect(&f.play, &TCustomDXPlay::OnMessage,
                     [&](TCustomDXPlay& sender, TDXPlayPlayer&, const void*, std::int32_t) {
                         f.events << "message";
                         sender.Close();
                     });
    f.post(LocalId, message(1));  // from our own ID (a copy to self)
    f.post(LocalId, message(1));
    ASSERT_TRUE(pumpUntil([&] { return !f.play.Opened(); }));
    EXPECT_EQ(f.events.count("message"), 1);

    // A hand-over still waiting when Close runs outside delivery finds the component closed.
    int messages = 0;
    for (int round = 0; round < 40; ++round) {
        f.host();
        QObject::disconnect(&f.play, &TCustomDXPlay::OnMessage, nullptr, nullptr);
        QObject::connect(
            &f.play, &TCustomDXPlay::OnMessage,
            [&](TCustomDXPlay&, TDXPlayPlayer&, const void*, std::int32_t) { ++messages; });
        f.post(LocalId, message(1));
        QThread::msleep(round % 4);  // no event loop runs: the hand-over waits, or is about to
        f.play.Close();
        // The next opening turns the event loop: what is left queued is not this round's.
        QObject::disconnect(&f.play, &TCustomDXPlay::OnMessage, nullptr, nullptr);
    }
    EXPECT_EQ(messages, 0);
}

TEST(DXPlayTest, SendsFromAnotherThreadWhileTheUiThreadClosesAndReopens) {
    Fixture f;
    f.host();
    std::atomic<bool> stop{false};
    std::thread sender([&] {
        const QByteArray text = message(1, "hi");
        while (!stop.load()) {
            f.play.SendMessage(RemoteId, text.constData(), text.size());
        }
    });
    for (int round = 0; round < 50; ++round) {
        f.play.Close();
        f.host();
        f.play.EnumerateSessions(0);
    }
    // On a busy machine the sender may not have run yet: give it the open session for a while.
    for (int waited = 0; waited < 5000 && f.system.script->sentMessages().isEmpty(); ++waited) {
        std::this_thread::sleep_for(std::chrono::milliseconds(1));
    }
    stop.store(true);
    sender.join();
    EXPECT_TRUE(f.play.Opened());
    EXPECT_GT(f.system.script->sentMessages().size(), 0);
}

TEST(DXPlayTest, OwnCopiesFromAnotherThreadReachEveryListenerOnTheUiThread) {
    Fixture f;
    f.host();
    // A second listener beside the fixture's: both hear every event.
    QList<Qt::HANDLE> threads;
    QObject::connect(&f.play, &TCustomDXPlay::OnMessage,
                     [&](TCustomDXPlay&, TDXPlayPlayer& from, const void*, std::int32_t) {
                         EXPECT_EQ(from.ID, LocalId);
                         threads << QThread::currentThreadId();
                     });
    const QByteArray text = message(1, "loop");
    std::thread sender(
        [&] { EXPECT_TRUE(f.play.TrySendMessage(LocalId, text.constData(), text.size())); });
    sender.join();
    EXPECT_TRUE(threads.isEmpty()) << "nothing is delivered on the sending thread";
    ASSERT_TRUE(pumpUntil([&] { return threads.size() == 1; }));
    EXPECT_EQ(threads.first(), QThread::currentThreadId());
    EXPECT_EQ(f.events.filter("message").size(), 1);

    // A copy still queued when its session closes is dropped with it.
    std::thread late([&] { f.play.TrySendMessage(LocalId, text.constData(), text.size()); });
    late.join();
    f.play.Close();
    f.host();
    QCoreApplication::processEvents();
    EXPECT_EQ(threads.size(), 1);
}

TEST(DXPlayTest, SendMessageRules) {
    Fixture f;
    const QByteArray text = message(1, "hi");
    f.play.SendMessage(0, nullptr, 0);  // not open: nothing, even with no bytes
    f.host();
    EXPECT_EQ(errorOf([&] { f.play.SendMessage(0, text.constData(), 3); }), "Illegal message form");
    EXPECT_EQ(errorOf([&] { f.play.SendMessage(0, text.constData(), 0); }), "Illegal message form");

    f.events.clear();
    f.play.SendMessage(LocalId, text.constData(), text.size());
    EXPECT_EQ(f.events, QStringList({"message 1000 6 hi"})) << "to self: before the call returns";
    EXPECT_TRUE(f.system.script->sentMessages().isEmpty());

    f.play.SendMessage(DPID_ALLPLAYERS, text.constData(), text.size());
    auto sent = f.system.script->sentMessages();
    ASSERT_EQ(sent.size(), 1);
    EXPECT_EQ(sent[0].from, LocalId);
    EXPECT_EQ(sent[0].to, DPID_ALLPLAYERS);
    EXPECT_EQ(sent[0].flags, DPSEND_GUARANTEED);
    EXPECT_EQ(sent[0].data, text);

    // Asynchronous sending only when asked for and the transport can.
    f.play.setAsync(true);
    f.play.SendMessage(RemoteId, text.constData(), text.size());
    f.play.Close();
    f.system.script->capsFlags = DPCAPS_ASYNCSUPPORTED;
    f.host();
    f.play.SendMessage(RemoteId, text.constData(), text.size());
    sent = f.system.script->sentMessages();
    ASSERT_EQ(sent.size(), 3);
    EXPECT_EQ(sent[1].flags, DPSEND_GUARANTEED);
    EXPECT_EQ(sent[2].flags, 0x201u);

    // From other threads at once while the UI thread works.
    std::vector<std::thread> senders;
    for (int t = 0; t < 4; ++t) {
        senders.emplace_back([&] {
            for (int i = 0; i < 250; ++i) {
                f.play.SendMessage(RemoteId, text.constData(), text.size());
            }
        });
    }
    for (auto& sender : senders) {
        sender.join();
    }
    EXPECT_EQ(f.system.script->sentMessages().size(), 1003);
}

TEST(DXPlayTest, OpenSessionFailuresAndTheirStates) {
    Fixture f;
    EXPECT_EQ(errorOf([&] { f.play.OpenSession(true, "Chat", "Ann"); }),
              "TDXPlay component is disconnected.");
    EXPECT_EQ(errorOf([&] { f.play.EnumerateSessions(0); }), "TDXPlay component is disconnected.");
    f.play.setProviderName("Serial Connection");
    EXPECT_EQ(errorOf([&] { f.play.OpenSession(true, "", ""); }), "Session name is not specified");
    EXPECT_EQ(errorOf([&] { f.play.OpenSession(true, "Chat", ""); }),
              "Player name is not specified");

    // The session step fails: the transport stays.
    const auto open = [&f] { test::openSession(f.play, true, "Chat", "Ann"); };
    f.system.script->openResult = DPERR_GENERIC;
    EXPECT_EQ(errorOf(open), "Session Chat cannot be opened");
    EXPECT_EQ(f.play.ProviderName(), "Serial Connection");
    f.system.script->openResult = DPERR_USERCANCEL;
    EXPECT_THROW(open(), EAbort);
    EXPECT_EQ(f.play.ProviderName(), "Serial Connection");

    // The start step fails before OnOpen: closed, no OnClose.
    f.system.script->openResult = DP_OK;
    f.system.script->createPlayerResult = DPERR_GENERIC;
    EXPECT_EQ(errorOf(open), "Chat cannot be opened");
    EXPECT_EQ(f.play.ProviderName(), "");
    EXPECT_TRUE(f.events.isEmpty());

    // An OnOpen handler's error closes the session (OnClose raised) and is the failure told.
    f.system.script->createPlayerResult = DP_OK;
    QObject::disconnect(&f.play, &TCustomDXPlay::OnOpen, nullptr, nullptr);
    QObject::connect(&f.play, &TCustomDXPlay::OnOpen,
                     [](TCustomDXPlay&) { throw EDXPlayError("handler failed"); });
    f.play.setProviderName("Serial Connection");
    EXPECT_EQ(errorOf(open), "handler failed");
    EXPECT_EQ(f.events, QStringList({"close Chat 1"}));
    EXPECT_FALSE(f.play.Opened());
    EXPECT_EQ(f.play.ProviderName(), "");

    // A cancelled enumeration reports the cancel and finds nothing; a failed one its code.
    QObject::disconnect(&f.play, &TCustomDXPlay::OnOpen, nullptr, nullptr);
    f.play.setProviderName("Serial Connection");
    f.system.script->enumResult = DPERR_USERCANCEL;
    EXPECT_EQ(test::enumerateSessions(f.play), DPERR_USERCANCEL);
    EXPECT_TRUE(f.play.Sessions().isEmpty());
    f.system.script->enumResult = static_cast<HRESULT>(0x80010001);
    const int calls = f.system.script->enumSessionsCalls;
    EXPECT_EQ(test::enumerateSessions(f.play), static_cast<HRESULT>(0x80010001));
    EXPECT_EQ(f.system.script->enumSessionsCalls, calls + 1);
}

TEST(DXPlayTest, OperationsReturnAtOnceAndACloseDropsTheirOutcome) {
    Fixture f;
    f.play.setProviderName("Serial Connection");
    int searches = 0;
    int failures = 0;
    QObject::connect(&f.play, &TCustomDXPlay::OnEnumerated,
                     [&](TCustomDXPlay&, HRESULT) { ++searches; });
    QObject::connect(&f.play, &TCustomDXPlay::OnOpenFailed,
                     [&](TCustomDXPlay&, HRESULT, const QString&) { ++failures; });
    // Neither call has an outcome yet when it returns: the worker reports later.
    f.play.EnumerateSessions(0);
    f.play.OpenSession(true, "Chat", "Ann");
    EXPECT_TRUE(f.play.Busy());
    EXPECT_TRUE(f.events.isEmpty());
    f.play.Close();
    ASSERT_TRUE(pumpUntil([&] { return !f.play.Busy() && !f.play.Releasing(); }));
    EXPECT_EQ(searches, 0);
    EXPECT_EQ(failures, 0);
    EXPECT_TRUE(f.events.isEmpty()) << "a closed component reports nothing of earlier calls";
    EXPECT_FALSE(f.play.Opened());
}

TEST(DXPlayTest, CloseRulesAndProviderChanges) {
    Fixture f;
    f.play.Close();
    EXPECT_TRUE(f.events.isEmpty());

    f.host();
    f.events.clear();
    f.play.setProviderName("Modem Connection");  // closes the open session first
    EXPECT_EQ(f.events, QStringList({"close Chat 1"}));
    EXPECT_EQ(f.play.ProviderName(), "Modem Connection");

    // An OnClose handler's error comes after everything is closed.
    test::openSession(f.play, true, "Chat", "Ann");
    QObject::disconnect(&f.play, &TCustomDXPlay::OnClose, nullptr, nullptr);
    QObject::connect(&f.play, &TCustomDXPlay::OnClose,
                     [](TCustomDXPlay&) { throw EDXPlayError("close failed"); });
    EXPECT_EQ(errorOf([&] { f.play.Close(); }), "close failed");
    EXPECT_EQ(f.play.Players().Count(), 0);
    EXPECT_EQ(f.play.ProviderName(), "");
    EXPECT_FALSE(f.play.Opened());

    // A long player name is cut for the transport only.
    QObject::disconnect(&f.play, &TCustomDXPlay::OnClose, nullptr, nullptr);
    f.play.setProviderName("Serial Connection");
    const QString longName(1500, QChar('n'));
    test::openSession(f.play, true, "Chat", longName);
    EXPECT_EQ(f.system.script->playerName.shortName.size(), 1024);
    EXPECT_EQ(f.play.LocalPlayer()->Name, longName);
}

TEST(DXPlayTest, GuidProvidersAndAddresses) {
    Fixture f;
    EXPECT_EQ(f.play.GUID(), AppGuid);
    f.play.setGUID("{a2196e45-287f-4f8f-987a-382c87886eed}");
    EXPECT_EQ(f.play.GUID(), AppGuid);
    f.play.setGUID("");
    EXPECT_EQ(f.play.GUID(), "{00000000-0000-0000-0000-000000000000}");
    EXPECT_EQ(errorOf([&] { f.play.setGUID("not a guid"); }), "Invalid class string");
    EXPECT_EQ(f.play.GUID(), "{00000000-0000-0000-0000-000000000000}");

    EXPECT_EQ(f.play.ProviderNameFromGUID(guids::ServiceProviderSerial), "Serial Connection");
    EXPECT_EQ(errorOf([&] { f.play.ProviderNameFromGUID(guids::ServiceProviderTcpIp); }),
              "Provider's specified GUID is not found");
    EXPECT_EQ(f.system.enumerations, 1) << "the list is read once";
    EXPECT_EQ(errorOf([&] { f.play.setProviderName("Carrier pigeon"); }),
              "Provider 'Carrier pigeon' not found");
    EXPECT_EQ(f.play.ProviderName(), "");

    const auto typesOfAddress = [&] {
        QList<Guid> types;
        for (const auto& element : FakeLobby::split(f.system.script->address)) {
            types.append(element.type);
        }
        return types;
    };
    auto& modem = f.play.ModemSetting();
    modem.ModemName = "USR";
    modem.PhoneNumber = "555";
    f.play.setProviderName("Modem Connection");
    EXPECT_EQ(typesOfAddress(),
              QList<Guid>({guids::AddressTotalSize, guids::AddressServiceProvider}))
        << "modem settings not enabled";
    modem.Enabled = true;
    modem.ModemName.clear();
    f.play.setProviderName("Modem Connection");
    EXPECT_EQ(typesOfAddress(), QList<Guid>({guids::AddressTotalSize, guids::AddressServiceProvider,
                                             guids::AddressPhone}));
    EXPECT_EQ(FakeLobby::split(f.system.script->address).last().data, QByteArray("555", 4));
    modem.ModemName = "USR";
    modem.PhoneNumber.clear();
    f.play.setProviderName("Modem Connection");
    EXPECT_EQ(typesOfAddress(), QList<Guid>({guids::AddressTotalSize, guids::AddressServiceProvider,
                                             guids::AddressModem}));
    f.play.setProviderName("Serial Connection");
    EXPECT_EQ(typesOfAddress(),
              QList<Guid>({guids::AddressTotalSize, guids::AddressServiceProvider}));
    EXPECT_EQ(
        FakeLobby::split(f.system.script->address)[1].data,
        QByteArray(reinterpret_cast<const char*>(guids::ServiceProviderSerial.bytes.data()), 16));

    // Setting up the transport fails: the name is emptied again.
    f.system.script->initializeResult = DPERR_GENERIC;
    EXPECT_EQ(errorOf([&] { f.play.setProviderName("Serial Connection"); }),
              "DirectPlay cannot be initialized");
    EXPECT_EQ(f.play.ProviderName(), "");
    f.system.script->initializeResult = DP_OK;
    f.system.lobbyFails = true;
    EXPECT_EQ(errorOf([&] { f.play.setProviderName("Serial Connection"); }),
              "DirectPlay cannot be initialized");

    // Writing the modem settings copies three fields.
    TDXPlayModemSetting other(f.system);
    other.Enabled = false;
    other.PhoneNumber = "777";
    other.ModemName = "Hayes";
    f.play.setModemSetting(other);
    EXPECT_FALSE(modem.Enabled);
    EXPECT_EQ(modem.PhoneNumber, "777");
    EXPECT_EQ(modem.ModemName, "Hayes");
}

TEST(DXPlayTest, ModemNamesAreReadOnceAndAgainAfterAFailure) {
    Fixture f;
    auto& modem = f.play.ModemSetting();
    f.system.script->playerAddressResult = DPERR_GENERIC;
    EXPECT_EQ(errorOf([&] { modem.ModemNames(); }), "Modem list cannot be acquired");

    f.system.script->playerAddressResult = DP_OK;
    QByteArray address;
    const auto element = [&address](const Guid& type, const QByteArray& data) {
        const auto size = static_cast<std::uint32_t>(data.size());
        address += QByteArray(reinterpret_cast<const char*>(type.bytes.data()), 16);
        address += QByteArray(reinterpret_cast<const char*>(&size), 4) + data;
    };
    element(guids::AddressModem, QByteArray("Internal Modem", 15));
    element(guids::AddressPhone, QByteArray("123", 4));
    element(guids::AddressModem, QByteArray("USB \xE9", 6));
    f.system.script->playerAddress = address;
    const int asked = f.system.script->getPlayerAddressCalls;
    EXPECT_EQ(modem.ModemNames(), QStringList({"Internal Modem", QString::fromUtf8("USB é")}));
    modem.ModemNames();
    EXPECT_EQ(f.system.script->getPlayerAddressCalls, asked + 2) << "size, then data, once";

    Fixture broken;
    broken.system.script->playerAddress = address.left(address.size() - 3);
    EXPECT_EQ(errorOf([&] { broken.play.ModemSetting().ModemNames(); }),
              "Modem list cannot be acquired");
}

TEST(DXPlayTest, MessageKindOfReadsTheFirstLittleEndianWord) {
    const char bytes[] = {0x05, 0x01, 0x00, 0x00, 0x7F};
    EXPECT_EQ(MessageKindOf(bytes), 0x105u);
}

}  // namespace
}  // namespace velmora
