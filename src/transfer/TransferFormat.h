#pragma once

// The texts of the transfers list's columns. Pure functions of their arguments: the tick count
// and the time of day come in from the caller. Ticks are unsigned 32-bit milliseconds whose
// differences wrap around; times of day are fractions of a day.

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

// n / (now - lastTick + 1) bytes per millisecond with one decimal, and " KB/s".
QString speedText(std::int32_t n, std::uint32_t now, std::uint32_t lastTick,
                  const QLocale& locale = QLocale());

// The time of day that a number of milliseconds gives, in the locale's long time format without
// a time zone. Only the time of day is shown, so whole days drop away; a negative estimate is
// shown as midnight.
QString timeOfDayText(std::int64_t milliseconds, const QLocale& locale = QLocale());

// The locale's long time format with its time-zone part taken out.
QString longTimeFormatWithoutZone(const QLocale& locale);

// Time since startTime, both times of day; a start before midnight counts across it.
QString elapsedText(double startTime, double timeOfDay, const QLocale& locale = QLocale());

// A rate in bytes per millisecond with one decimal, and " KB/s".
QString rateText(double bytesPerMs, const QLocale& locale = QLocale());

// The receiver's estimate: ((Size - Done) div (lastBlock + 1)) x (now - lastTick) in signed
// 64-bit integers, saturated instead of overflowing.
std::int64_t receiverLeftMilliseconds(std::int32_t size, std::int32_t done, std::int32_t lastBlock,
                                      std::uint32_t now, std::uint32_t lastTick);

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

// The sub-items of a line that was just created.
ProgressTexts initialProgressTexts(std::int32_t size, const QLocale& locale = QLocale());

struct ProgressInput {
    std::int32_t size = 0;
    std::int32_t done = 0;  // already counting this block
    std::int32_t n = 0;     // bytes of this block
    std::uint32_t now = 0;
    std::uint32_t lastTick = 0;
    double startTime = 0.0;
    double timeOfDay = 0.0;
};

// The receiver's sub-items after a block.
ProgressTexts progressTexts(const ProgressInput& input, const QLocale& locale = QLocale());

// The sender's sub-items: Completed and Percent from the bytes the line carried, Speed and Left
// from the rate over the moving window (bytes per millisecond), "?" while there is none.
struct CarriedInput {
    std::int32_t size = 0;
    std::int32_t carried = 0;
    std::optional<double> rate;
    double startTime = 0.0;
    double timeOfDay = 0.0;
};
ProgressTexts senderProgressTexts(const CarriedInput& input, const QLocale& locale = QLocale());

}  // namespace velmora
