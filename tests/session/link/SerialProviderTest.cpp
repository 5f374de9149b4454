#include "base/IniFile.h"
#include "cable/NullModemCable.h"
#include "session/link/SerialProvider.h"
#include "support/TestEnvironment.h"

#include <QFile>

#include <gtest/gtest.h>

#include <chrono>
#include <condition_variable>
#include <mutex>

namespace velmora {
namespace {

using namespace std::chrono_literals;

class ScriptedPrompts : public SerialPrompts {
public:
    void askSerialSettings(const QList<SerialPortChoice>& ports, const SerialSettings& last,
                           PromptReply<SerialSettings> reply) override {
        ++asked;
        offeredPorts = ports;
        offered = last;
        reply(answer);
    }
    void showSerialError(const QString& message) override { errors.append(message); }

    std::optional<SerialSettings> answer;
    int asked = 0;
    QList<SerialPortChoice> offeredPorts;
    SerialSettings offered;
    QStringList errors;
};

class UpListener : public LineListener {
public:
    void lineUp() override {
        change([this] { up = true; });
    }
    void lineMessage(const QByteArray& message) override {
        change([&] { messages.append(message); });
    }
    void lineDown(LineDown) override {}

    bool waitFor(const std::function<bool()>& condition) {
        std::unique_lock lock(m_mutex);
        return m_changed.wait_for(lock, 30s, condition);
    }

    bool up = false;
    QList<QByteArray> messages;

private:
    template <typename Change>
    void change(Change apply) {
        {
            std::lock_guard lock(m_mutex);
            apply();
        }
        m_changed.notify_all();
    }
    std::mutex m_mutex;
    std::condition_variable m_changed;
};

CableOptions cableOptions() {
    CableOptions options;
    options.directory = test::makeTempFolder(QStringLiteral("cable")).toStdString();
    options.line.baud = 115200;
    return options;
}

SerialSettings settingsFor(const std::filesystem::path& end, FlowControl flow) {
    SerialSettings settings;
    settings.portName = QString::fromStdString(end.string());
    settings.baud = 115200;
    settings.flow = flow;
    return settings;
}

TEST(SerialProviderTest, AsksPresetWithTheLastSettingsAndRemembersTheAnswer) {
    NullModemCable cable(cableOptions());
    const QString folder = test::makeTempFolder(QStringLiteral("data"));
    ScriptedPrompts prompts;
    prompts.answer = settingsFor(cable.linkA(), FlowControl::XonXoff);
    {
        SerialProvider provider(folder, &prompts);
        EXPECT_EQ(provider.initialize({}), DP_OK);
        QStringList modems{QStringLiteral("stale")};
        EXPECT_EQ(provider.modemNames(modems), DP_OK);
        EXPECT_TRUE(modems.isEmpty());
        EXPECT_LE(provider.defaultTimeoutMs(), 5000U);

        std::unique_ptr<Line> line;
        ASSERT_EQ(provider.listen(line), DP_OK) << provider.lastError().toStdString();
        EXPECT_NE(line, nullptr);
        EXPECT_EQ(prompts.asked, 1);
        EXPECT_EQ(prompts.offeredPorts, SerialProvider::systemPorts());
    }
    const IniFile file = IniFile::load(folder + "/serial.ini");
    EXPECT_EQ(file.stringValue("Serial", "Port", {}), prompts.answer->portName);
    EXPECT_EQ(file.intValue("Serial", "Baud", 0), 115200);
    EXPECT_EQ(file.stringValue("Serial", "Flow", {}), QStringLiteral("XonXoff"));

    // The next time, in a new run, the question comes preset with that answer.
    SerialProvider again(folder, &prompts);
    prompts.answer = settingsFor(cable.linkB(), FlowControl::RtsCts);
    prompts.answer->baud = 57600;
    std::unique_ptr<Line> line;
    ASSERT_EQ(again.connect(line), DP_OK) << again.lastError().toStdString();
    EXPECT_EQ(prompts.offered, settingsFor(cable.linkA(), FlowControl::XonXoff));
    EXPECT_EQ(IniFile::load(folder + "/serial.ini").intValue("Serial", "Baud", 0), 57600);
}

TEST(SerialProviderTest, CancelIsASilentAbortThatChangesNothing) {
    const QString folder = test::makeTempFolder(QStringLiteral("data"));
    ScriptedPrompts prompts;
    SerialProvider provider(folder, &prompts);
    std::unique_ptr<Line> line;
    EXPECT_EQ(provider.connect(line), DPERR_USERCANCEL);
    EXPECT_EQ(provider.listen(line), DPERR_USERCANCEL);
    EXPECT_EQ(line, nullptr);
    EXPECT_EQ(prompts.asked, 2);
    EXPECT_TRUE(prompts.errors.isEmpty());
    EXPECT_FALSE(QFile::exists(provider.settingsPath()));
}

TEST(SerialProviderTest, UnattendedProvidersConnectWithoutAsking) {
    NullModemCable cable(cableOptions());
    // The host reads its settings from the file with Ask=0, the caller is given them.
    const QString hostFolder = test::makeTempFolder(QStringLiteral("host"));
    IniFile file;
    file.setValue("Serial", "Port", QString::fromStdString(cable.linkA().string()));
    file.setValue("Serial", "Baud", 115200);
    file.setValue("Serial", "Flow", "None");
    file.setValue("Serial", "Ask", 0);
    ASSERT_TRUE(file.save(hostFolder + "/serial.ini"));
    SerialProvider hostProvider(hostFolder, nullptr);
    SerialProvider callerProvider(test::makeTempFolder(QStringLiteral("caller")), nullptr,
                                  settingsFor(cable.linkB(), FlowControl::None));

    std::unique_ptr<Line> host;
    std::unique_ptr<Line> caller;
    ASSERT_EQ(hostProvider.listen(host), DP_OK) << hostProvider.lastError().toStdString();
    ASSERT_EQ(callerProvider.connect(caller), DP_OK) << callerProvider.lastError().toStdString();
    UpListener hostEvents;
    UpListener callerEvents;
    host->start(&hostEvents);
    caller->start(&callerEvents);
    ASSERT_TRUE(callerEvents.waitFor([&] { return callerEvents.up; }));
    ASSERT_TRUE(caller->send(QByteArray("hello")));
    ASSERT_TRUE(hostEvents.waitFor([&] { return hostEvents.messages.size() == 1; }));
    EXPECT_EQ(hostEvents.messages[0], QByteArray("hello"));
    caller->close();
}

TEST(SerialProviderTest, PortThatCannotBeOpenedFailsWithTheReason) {
    ScriptedPrompts prompts;
    prompts.answer =
        SerialSettings{QStringLiteral("/dev/velmora-missing"), 9600, FlowControl::None};
    SerialProvider provider(test::makeTempFolder(QStringLiteral("data")), &prompts);
    std::unique_ptr<Line> line;
    EXPECT_EQ(provider.connect(line), DPERR_NOCONNECTION);
    EXPECT_EQ(line, nullptr);
    EXPECT_TRUE(provider.lastError().contains("/dev/velmora-missing"));
    EXPECT_EQ(prompts.errors, QStringList{provider.lastError()});

    // Nobody to ask and nothing in the file: a failure, not a hang.
    SerialProvider unattended(test::makeTempFolder(QStringLiteral("empty")), nullptr);
    EXPECT_EQ(unattended.listen(line), DPERR_UNINITIALIZED);
    EXPECT_TRUE(unattended.lastError().contains("serial.ini"));
}

}  // namespace
}  // namespace velmora
