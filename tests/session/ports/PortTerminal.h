#pragma once

#include <QString>

namespace velmora::test {

// A pseudo-terminal whose slave end no one holds open, so that the tests can set its owner and
// mode and see it as a serial port that nobody uses.
class PortTerminal {
public:
    PortTerminal();
    ~PortTerminal();

    PortTerminal(const PortTerminal&) = delete;
    PortTerminal& operator=(const PortTerminal&) = delete;

    // The device, e.g. /dev/pts/7; empty when none could be made.
    const QString& path() const { return m_path; }
    // Sets the device's group and mode; false when this process may not (not the superuser).
    bool setGroupAndMode(unsigned group, unsigned mode) const;

private:
    int m_master = -1;
    QString m_path;
};

}  // namespace velmora::test
