#pragma once

// The texts of the transfers list's columns. Pure functions of their arguments: the times come
// in from the caller as milliseconds.

#include <QLocale>
#include <QString>

#include <array>
#include <cstdint>
#include <optional>

namespace velmora {

inline constexpr std::int64_t kMillisecondsPerDay = 86'400'000;

// A byte count with " B" below 10240 (and for any negative value), whole " KB" below 10485760,
// else " MB" with one decimal in the locale's decimal separator.
QString formatSize(std::int64_t value, const QLocale& locale = QLocale());

// Done / (Size + 1) x 100, rounded to the nearest integer with ties to even, and " %". A size
// that leaves nothing to divide by (negative) gives "0 %".
QString percentText(std::int32_t done, std::int32_t size);

// The time of day that a number of milliseconds gives, in the locale's long time format without
// a time zone. Only the time of day is shown, so whole days drop away; a negative estimate is
// shown as midnight.
QString timeOfDayText(std::int64_t milliseconds, const QLocale& locale = QLocale());

// The locale's long time format with its time-zone part taken out.
QString longTimeFormatWithoutZone(const QLocale& locale);

// A rate in bytes per millisecond with one decimal, and " KB/s".
QString rateText(double bytesPerMs, const QLocale& locale = QLocale());

enum TransferColumn : int {
    colFileName = 0,
    colSize,
    colCompleted,
    colPercent,
    colElapsed,
    colLeft,
    colSpeed,
    kTransferColumnCount,
};

// The texts of the six sub-items, Size to Speed.
using ProgressTexts = std::array<QString, kTransferColumnCount - 1>;

// The sub-items of a line that was just created, done bytes of it already there (a resumed
// file).
ProgressTexts initialProgressTexts(std::int32_t size, std::int32_t done = 0,
                                   const QLocale& locale = QLocale());

// The sub-items of a line that runs or is paused, the same on both sides: Completed and Percent
// from the bytes counted, Elapsed from the running time, Speed and Left from the rate over the
// moving window (bytes per millisecond), "?" while there is none and empty while paused.
struct LiveProgress {
    std::int32_t size = 0;
    std::int32_t counted = 0;
    std::optional<double> rate;
    std::uint32_t elapsedMs = 0;
    bool paused = false;
};
ProgressTexts liveProgressTexts(const LiveProgress& input, const QLocale& locale = QLocale());

}  // namespace velmora
