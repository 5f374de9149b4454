#pragma once

#include <cstddef>
#include <string>

namespace velmora {

// One pseudo-terminal pair, open for as long as the object lives. The slave end is put in raw mode
// (no echo, no line editing, no character translation) so that a serial port or a test can open
// the slave path and see exactly the bytes written to the master. The object keeps the slave open
// itself: otherwise the master reads EIO whenever no one has the port open, and the slave's
// settings would be reset between two users. The master is non-blocking.
class PseudoTerminal {
public:
    // Throws std::system_error when no pseudo-terminal can be made.
    PseudoTerminal();
    ~PseudoTerminal();

    // The device goes away, as a USB adapter pulled out does: both ends are closed, so a program
    // that has the slave open gets a hang-up, and the descriptors are -1 until open().
    void close();
    // A new pair, with a new slave path. Throws std::system_error as the constructor does.
    void open();
    bool isOpen() const { return m_master >= 0; }

    PseudoTerminal(const PseudoTerminal&) = delete;
    PseudoTerminal& operator=(const PseudoTerminal&) = delete;

    int masterFd() const { return m_master; }
    // The slave end this object holds open; for queries such as bytesWaitingAtSlave().
    int slaveFd() const { return m_slave; }
    // The device path a program opens to use this terminal, e.g. /dev/pts/7.
    const std::string& slavePath() const { return m_slavePath; }

    // Bytes written to the master that no one has read from the slave yet.
    std::size_t bytesWaitingAtSlave() const;

private:
    int m_master = -1;
    int m_slave = -1;
    std::string m_slavePath;
};

}  // namespace velmora
