#include "session/service/TurningWait.h"

#include <QCoreApplication>
#include <QThread>
#include <QTimer>

namespace velmora {

namespace {

bool onMainThread() {
    const QCoreApplication* application = QCoreApplication::instance();
    return application != nullptr && QThread::currentThread() == application->thread();
}

}  // namespace

void TurningWait::sleep(std::unique_lock<std::mutex>& lock, std::chrono::milliseconds limit) {
    if (!onMainThread()) {
        m_changed.wait_for(lock, limit);
        return;
    }
    QEventLoop loop;
    QTimer::singleShot(limit, &loop, &QEventLoop::quit);
    // Registered with the lock held, so a wake() from now on reaches this loop; a quit queued
    // before exec() still ends it.
    m_loops.emplace_back(&loop);
    lock.unlock();
    loop.exec();
    lock.lock();
    std::erase(m_loops, QPointer<QEventLoop>(&loop));
}

void TurningWait::wake() {
    m_changed.notify_all();
    for (const QPointer<QEventLoop>& loop : m_loops) {
        if (loop) {
            QMetaObject::invokeMethod(loop.data(), &QEventLoop::quit, Qt::QueuedConnection);
        }
    }
}

}  // namespace velmora
