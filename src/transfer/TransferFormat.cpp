#include "transfer/TransferFormat.h"

#include <QTime>

#include <algorithm>
#include <cmath>
#include <limits>

namespace velmora {

namespace {

// Numbers in these columns never carry group separators.
QLocale withoutGroups(const QLocale& locale) {
    QLocale plain = locale;
    plain.setNumberOptions(locale.numberOptions() | QLocale::OmitGroupSeparator);
    return plain;
}

// Longer estimates show the same time of day anyway; this keeps them within an integer.
constexpr double kLongestEstimateMs = 1e15;

std::int64_t sizeLeft(std::int32_t size, std::int32_t done) {
    return static_cast<std::int64_t>(static_cast<std::uint32_t>(size)) - done;
}

// Removes the time-zone fields ('t' outside quotes) and what is left around them: brackets that
// held only the zone, and the spaces next to it.
QString stripZone(const QString& format) {
    QString result;
    bool quoted = false;
    for (const QChar c : format) {
        if (c == u'\'') {
            quoted = !quoted;
        }
        if (!quoted && c == u't') {
            continue;
        }
        result.append(c);
    }
    for (const auto* empty : {u"()", u"[]"}) {
        result.remove(QString::fromUtf16(empty));
    }
    result = result.simplified();
    return result;
}

}  // namespace

QString formatSize(std::int64_t value, const QLocale& locale) {
    const QLocale plain = withoutGroups(locale);
    if (value < 10240) {
        return plain.toString(static_cast<qlonglong>(value)) + QStringLiteral(" B");
    }
    if (value < 10485760) {
        const auto kilobytes = std::llround(static_cast<double>(value) / 1024.0);
        return plain.toString(static_cast<qlonglong>(kilobytes)) + QStringLiteral(" KB");
    }
    return plain.toString(static_cast<double>(value) / 1048576.0, 'f', 1) + QStringLiteral(" MB");
}

QString percentText(std::int32_t done, std::int32_t size) {
    const double divisor = static_cast<double>(size) + 1.0;
    long long percent = 0;
    if (divisor > 0.0) {
        // llrint rounds in the default mode: to nearest, ties to even.
        percent = std::llrint(static_cast<double>(done) / divisor * 100.0);
    }
    return QString::number(percent) + QStringLiteral(" %");
}

QString speedText(std::int32_t n, std::uint32_t now, std::uint32_t lastTick,
                  const QLocale& locale) {
    const std::uint32_t elapsed = now - lastTick;
    return rateText(static_cast<double>(n) / (static_cast<double>(elapsed) + 1.0), locale);
}

QString rateText(double bytesPerMs, const QLocale& locale) {
    return withoutGroups(locale).toString(bytesPerMs, 'f', 1) + QStringLiteral(" KB/s");
}

QString longTimeFormatWithoutZone(const QLocale& locale) {
    return stripZone(locale.timeFormat(QLocale::LongFormat));
}

QString timeOfDayText(std::int64_t milliseconds, const QLocale& locale) {
    const std::int64_t ofDay = milliseconds < 0 ? 0 : milliseconds % kMillisecondsPerDay;
    const QTime time = QTime::fromMSecsSinceStartOfDay(static_cast<int>(ofDay));
    return locale.toString(time, longTimeFormatWithoutZone(locale));
}

QString elapsedText(double startTime, double timeOfDay, const QLocale& locale) {
    double elapsed = timeOfDay - startTime;
    if (elapsed < 0.0) {
        elapsed += 1.0;
    }
    return timeOfDayText(std::llround(elapsed * static_cast<double>(kMillisecondsPerDay)), locale);
}

std::int64_t receiverLeftMilliseconds(std::int32_t size, std::int32_t done, std::int32_t lastBlock,
                                      std::uint32_t now, std::uint32_t lastTick) {
    const std::int64_t perTick = sizeLeft(size, done) / (static_cast<std::int64_t>(lastBlock) + 1);
    std::int64_t left = 0;
    if (__builtin_mul_overflow(perTick, static_cast<std::int64_t>(now - lastTick), &left)) {
        return perTick < 0 ? std::numeric_limits<std::int64_t>::min()
                           : std::numeric_limits<std::int64_t>::max();
    }
    return left;
}

ProgressTexts initialProgressTexts(std::int32_t size, const QLocale& locale) {
    return {formatSize(size, locale), formatSize(0, locale), QStringLiteral("0 %"),
            QStringLiteral("0"),      QStringLiteral("?"),   QStringLiteral("?")};
}

ProgressTexts progressTexts(const ProgressInput& input, const QLocale& locale) {
    const std::int64_t left =
        receiverLeftMilliseconds(input.size, input.done, input.n, input.now, input.lastTick);
    return {
        formatSize(input.size, locale),      formatSize(input.done, locale),
        percentText(input.done, input.size), elapsedText(input.startTime, input.timeOfDay, locale),
        timeOfDayText(left, locale),         speedText(input.n, input.now, input.lastTick, locale)};
}

ProgressTexts senderProgressTexts(const CarriedInput& input, const QLocale& locale) {
    QString left = QStringLiteral("?");
    QString speed = QStringLiteral("?");
    if (input.rate && *input.rate > 0.0) {
        const double ms = static_cast<double>(sizeLeft(input.size, input.carried)) / *input.rate;
        left = timeOfDayText(std::llround(std::clamp(ms, 0.0, kLongestEstimateMs)), locale);
        speed = rateText(*input.rate, locale);
    }
    return {formatSize(input.size, locale),
            formatSize(input.carried, locale),
            percentText(input.carried, input.size),
            elapsedText(input.startTime, input.timeOfDay, locale),
            left,
            speed};
}

}  // namespace velmora
