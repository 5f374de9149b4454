#include "PortTerminal.h"

#include <QFile>

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cstdlib>

namespace velmora::test {

PortTerminal::PortTerminal() : m_master(::posix_openpt(O_RDWR | O_NOCTTY)) {
    if (m_master >= 0 && ::grantpt(m_master) == 0 && ::unlockpt(m_master) == 0) {
        m_path = QString::fromLocal8Bit(::ptsname(m_master));
    }
}

PortTerminal::~PortTerminal() {
    if (m_master >= 0) {
        ::close(m_master);
    }
}

bool PortTerminal::setGroupAndMode(unsigned group, unsigned mode) const {
    const QByteArray path = QFile::encodeName(m_path);
    return ::chown(path.constData(), 0, group) == 0 && ::chmod(path.constData(), mode) == 0;
}

}  // namespace velmora::test
