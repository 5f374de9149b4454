#include "FuzzSupport.h"

#include <QCoreApplication>
#include <QFileInfo>
#include <QTemporaryDir>

#include <algorithm>

#include <cstdio>
#include <cstdlib>
#include <memory>

namespace velmora::fuzz {

namespace {

std::unique_ptr<QTemporaryDir>& scratch() {
    static std::unique_ptr<QTemporaryDir> folder;
    return folder;
}

}  // namespace

std::uint8_t FuzzInput::u8() {
    return atEnd() ? 0 : static_cast<std::uint8_t>(m_data[m_at++]);
}

std::uint16_t FuzzInput::u16() {
    const std::uint16_t low = u8();
    return static_cast<std::uint16_t>(low | (u8() << 8));
}

std::uint32_t FuzzInput::u32() {
    const std::uint32_t low = u16();
    return low | (static_cast<std::uint32_t>(u16()) << 16);
}

QByteArray FuzzInput::bytes(qsizetype count) {
    const qsizetype taken = std::max<qsizetype>(0, std::min(count, m_size - m_at));
    QByteArray result(m_data + m_at, taken);
    m_at += taken;
    return result;
}

QByteArray FuzzInput::chunk(int maxLength) {
    return bytes(u16() % (maxLength + 1));
}

QString scratchFolder() {
    return scratch()->path();
}

void check(bool condition, const char* what) {
    if (!condition) {
        std::fprintf(stderr, "invariant broken: %s\n", what);
        std::abort();
    }
}

}  // namespace velmora::fuzz

extern "C" int LLVMFuzzerInitialize(int* argc, char*** argv) {
    using velmora::fuzz::scratch;
    // In memory where the system has a place for it: the targets make and remove files all the
    // time, and a disk's file system spends far longer on that than the code under test.
    const QFileInfo memory(QStringLiteral("/dev/shm"));
    scratch() =
        memory.isDir() && memory.isWritable()
            ? std::make_unique<QTemporaryDir>(QStringLiteral("/dev/shm/velmora-fuzz-XXXXXX"))
            : std::make_unique<QTemporaryDir>();
    const QByteArray folder = scratch()->path().toLocal8Bit();
    for (const char* name : {"HOME", "VELMORA_HOME", "XDG_DATA_HOME", "XDG_CONFIG_HOME",
                             "XDG_CACHE_HOME", "XDG_RUNTIME_DIR"}) {
        qputenv(name, folder);
    }
    static QCoreApplication application(*argc, *argv);
    return 0;
}
