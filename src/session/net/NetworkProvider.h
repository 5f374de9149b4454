#pragma once

#include "session/ServiceProvider.h"
#include "session/UiHandOver.h"
#include "session/net/NetworkLine.h"

#include <QString>

#include <atomic>
#include <cstdint>
#include <optional>

class QDeadlineTimer;
class QHostAddress;
class QTcpSocket;

namespace velmora {

class NetworkPrompts;

// Why a network line did not come about. Failures (non-zero) that the session component hands
// back from EnumSessions unchanged, so the caller can tell them apart; the provider has told the
// user the details through its prompts.
inline constexpr HRESULT NETERR_UNREACHABLE = static_cast<HRESULT>(0x88770F21);
inline constexpr HRESULT NETERR_WRONGPASSPHRASE = static_cast<HRESULT>(0x88770F22);
inline constexpr HRESULT NETERR_NOTVELMORA = static_cast<HRESULT>(0x88770F23);

// The service provider of TCP/IP between two Velmoras. Its address carries the host name
// (DPAID_INet: the host to call, or the address to listen on, the loopback address when none)
// and the port (DPAID_INetPort). Both sides need the same passphrase: the one given to the
// constructor, else the prompts ask for it.
class NetworkProvider : public ServiceProvider {
public:
    static constexpr std::uint32_t kDefaultTimeoutMs = 5000;
    // How long a caller waits for the host to take it and to finish the handshake.
    static constexpr std::int64_t kCallLimitMs = 20000;

    NetworkProvider(NetworkPrompts* prompts, std::optional<QString> passphrase,
                    NetworkLine::Tuning tuning = {});

    HRESULT initialize(const Address& address) override;
    std::uint32_t defaultTimeoutMs() const override { return kDefaultTimeoutMs; }
    // Connects to the host and proves the passphrase; the line reports lineUp when the link
    // answers.
    HRESULT connect(std::unique_ptr<Line>& line) override;
    void cancelConnect() override { m_cancelled = true; }
    // Listens on the address and port.
    HRESULT listen(std::unique_ptr<Line>& line) override;
    HRESULT modemNames(QStringList& names) override;

    QString lastError() const { return m_lastError; }

private:
    std::optional<QString> choosePassphrase(const QString& where, HRESULT& failure);
    HRESULT failed(HRESULT code, const QString& message);
    // Connects the socket to the host, or says why it could not.
    std::optional<QString> connectSocket(QTcpSocket& socket, const QDeadlineTimer& deadline);
    // A descriptor connected to the address, or -1 and why.
    int connectedDescriptor(const QHostAddress& address, const QDeadlineTimer& deadline,
                            QString& why) const;

    NetworkPrompts* m_prompts;
    UiHandOver m_ui;  // the prompts are the UI thread's; connect() and listen() run on the worker
    std::optional<QString> m_passphrase;
    const NetworkLine::Tuning m_tuning;
    QString m_hostName;
    std::uint16_t m_port = 0;
    std::atomic<bool> m_cancelled = false;
    QString m_lastError;
};

}  // namespace velmora
