#include "transfer/TransferFormat.h"

#include <QTime>

#include <algorithm>
#include <cmath>

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

ProgressTexts initialProgressTexts(std::int32_t size, std::int32_t done, const QLocale& locale) {
    return {formatSize(size, locale), formatSize(done, locale), percentText(done, size),
            QStringLiteral("0"),      QStringLiteral("?"),      QStringLiteral("?")};
}

ProgressTexts liveProgressTexts(const LiveProgress& input, const QLocale& locale) {
    QString left = QStringLiteral("?");
    QString speed = QStringLiteral("?");
    if (input.paused) {
        left.clear();
        speed.clear();
    } else if (input.rate && *input.rate > 0.0) {
        const double ms = static_cast<double>(sizeLeft(input.size, input.counted)) / *input.rate;
        left = timeOfDayText(std::llround(std::clamp(ms, 0.0, kLongestEstimateMs)), locale);
        speed = rateText(*input.rate, locale);
    }
    return {formatSize(input.size, locale),
            formatSize(input.counted, locale),
            percentText(input.counted, input.size),
            timeOfDayText(input.elapsedMs, locale),
            left,
            speed};
}

}  // namespace velmora
