#pragma once

#include "session/Guid.h"
#include "session/Line.h"
#include "session/Transport.h"

#include <QList>
#include <QString>
#include <QStringList>

#include <cstdint>
#include <functional>
#include <memory>

namespace velmora {

// One element of the address given to InitializeConnection.
struct AddressElement {
    Guid dataType;
    QByteArray data;
};
using Address = QList<AddressElement>;

// A kind of line behind the session logic: the serial cable, the modem, the in-memory pair.
// One instance serves one session object from InitializeConnection to Close.
class ServiceProvider {
public:
    virtual ~ServiceProvider() = default;

    // Takes the address elements that follow the service-provider element. DP_OK or a failure.
    virtual HRESULT initialize(const Address& address) = 0;
    // The waiting time of an enumeration given a time-out of 0.
    virtual std::uint32_t defaultTimeoutMs() const = 0;
    // Joining: brings up a line to the other computer (opening a port, dialling). Runs on the
    // session's worker thread, never the UI thread. May ask the user through the prompts it was
    // made with, which it hands to the UI thread: DPERR_USERCANCEL when they cancel. May block up
    // to the provider's own time limit. A failure code is returned unchanged by EnumSessions.
    virtual HRESULT connect(std::unique_ptr<Line>& line) = 0;
    // Ends a connect() in progress, from any thread; connect() then returns DPERR_USERCANCEL.
    virtual void cancelConnect() {}
    // Hosting (on the worker thread, prompting as connect() does): starts waiting for a caller
    // and returns at once; the line reports lineUp when a
    // caller is there, and after a caller's goodbye waits for the next one.
    virtual HRESULT listen(std::unique_ptr<Line>& line) = 0;
    // The modems this provider knows (empty for others). DP_OK or a failure.
    virtual HRESULT modemNames(QStringList& names) = 0;
};

// How a service makes providers: one entry per installed provider.
struct ProviderEntry {
    Guid guid;
    QString name;
    std::function<std::unique_ptr<ServiceProvider>()> create;
};

}  // namespace velmora
