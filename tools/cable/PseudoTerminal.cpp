#include "cable/PseudoTerminal.h"

#include <fcntl.h>
#include <pty.h>
#include <sys/ioctl.h>
#include <termios.h>
#include <unistd.h>

#include <array>
#include <cerrno>
#include <system_error>

namespace velmora {

namespace {

[[noreturn]] void throwErrno(const char* what) {
    throw std::system_error(errno, std::generic_category(), what);
}

void addDescriptorFlags(int fd, int statusFlags) {
    if (::fcntl(fd, F_SETFD, FD_CLOEXEC) < 0) {
        throwErrno("fcntl(F_SETFD)");
    }
    const int flags = ::fcntl(fd, F_GETFL);
    if (flags < 0 || ::fcntl(fd, F_SETFL, flags | statusFlags) < 0) {
        throwErrno("fcntl(F_SETFL)");
    }
}

}  // namespace

PseudoTerminal::PseudoTerminal() {
    open();
}

PseudoTerminal::~PseudoTerminal() {
    close();
}

void PseudoTerminal::close() {
    if (m_master >= 0) {
        ::close(m_slave);
        ::close(m_master);
    }
    m_master = -1;
    m_slave = -1;
}

void PseudoTerminal::open() {
    close();
    termios raw{};
    ::cfmakeraw(&raw);
    raw.c_cflag |= CLOCAL | CREAD;
    ::cfsetspeed(&raw, B115200);
    if (::openpty(&m_master, &m_slave, nullptr, &raw, nullptr) < 0) {
        throwErrno("openpty");
    }
    try {
        addDescriptorFlags(m_master, O_NONBLOCK);
        addDescriptorFlags(m_slave, 0);
        std::array<char, 128> name{};
        if (const int error = ::ptsname_r(m_master, name.data(), name.size()); error != 0) {
            errno = error;
            throwErrno("ptsname_r");
        }
        m_slavePath = name.data();
    } catch (...) {
        close();
        throw;
    }
}

std::size_t PseudoTerminal::bytesWaitingAtSlave() const {
    int waiting = 0;
    if (::ioctl(m_slave, TIOCINQ, &waiting) < 0 || waiting < 0) {
        return 0;
    }
    return static_cast<std::size_t>(waiting);
}

}  // namespace velmora
