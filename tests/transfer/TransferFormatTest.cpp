#include "transfer/Transfer.h"
#include "transfer/TransferFormat.h"

#include <gtest/gtest.h>

#include <cstdint>
#include <limits>

using namespace velmora;

namespace {

const QLocale kDot = QLocale::c();
// A locale whose long time format reads H:mm:ss plus a time zone.
const QLocale kCzech(QLocale::Czech, QLocale::Czechia);
const QLocale kGerman(QLocale::German, QLocale::Germany);

double dayFraction(int milliseconds) {
    return static_cast<double>(milliseconds) / static_cast<double>(kMillisecondsPerDay);
}

}  // namespace

TEST(TransferFormat, FormatSizeAtItsBoundaries) {
    EXPECT_EQ(formatSize(0, kDot), "0 B");
    EXPECT_EQ(formatSize(10239, kDot), "10239 B");
    EXPECT_EQ(formatSize(-5, kDot), "-5 B");
    EXPECT_EQ(formatSize(std::numeric_limits<std::int64_t>::min(), kDot), "-9223372036854775808 B");
    EXPECT_EQ(formatSize(10240, kDot), "10 KB");
    EXPECT_EQ(formatSize(10752, kDot), "11 KB");  // 10.5 rounds up
    EXPECT_EQ(formatSize(10485759, kDot), "10240 KB");
    EXPECT_EQ(formatSize(10485760, kDot), "10.0 MB");
    EXPECT_EQ(formatSize(10485760, kGerman), "10,0 MB");
    EXPECT_EQ(formatSize(std::int64_t{5} * 1024 * 1024 * 1024, kDot), "5120.0 MB");
    EXPECT_EQ(formatSize(std::numeric_limits<std::int32_t>::max(), kDot), "2048.0 MB");
}

TEST(TransferFormat, PercentRoundsTiesToEven) {
    EXPECT_EQ(percentText(500, 1000), "50 %");
    EXPECT_EQ(percentText(0, 0), "0 %");
    EXPECT_EQ(percentText(1000, 1000), "100 %");
    // Size 7 divides by 8, which gives exact halves.
    EXPECT_EQ(percentText(1, 7), "12 %");
    EXPECT_EQ(percentText(3, 7), "38 %");
    EXPECT_EQ(percentText(5, 7), "62 %");
    EXPECT_EQ(percentText(7, 7), "88 %");
    // Resumed from a longer file: more than all of it.
    EXPECT_EQ(percentText(2000, 999), "200 %");
    EXPECT_EQ(percentText(std::numeric_limits<std::int32_t>::max(),
                          std::numeric_limits<std::int32_t>::max()),
              "100 %");
    EXPECT_EQ(percentText(100, -1), "0 %");
    EXPECT_EQ(percentText(100, std::numeric_limits<std::int32_t>::min()), "0 %");
}

TEST(TransferFormat, SpeedHasOneDecimalAndWrapsTicks) {
    EXPECT_EQ(speedText(4096, 1000, 0, kDot), "4.1 KB/s");
    EXPECT_EQ(speedText(4096, 1000, 0, kGerman), "4,1 KB/s");
    EXPECT_EQ(speedText(0, 50, 0, kDot), "0.0 KB/s");
    // Same tick: divided by 1.
    EXPECT_EQ(speedText(32768, 7, 7, kDot), "32768.0 KB/s");
    // The tick count wrapped between the two updates: 0xFFFFFFF0 to 0x10 is 32 ms.
    EXPECT_EQ(speedText(3300, 0x10, 0xFFFFFFF0u, kDot), "100.0 KB/s");
    // The largest difference still divides by 2^32, not by zero.
    EXPECT_EQ(speedText(1048576, 0xFFFFFFFFu, 0, kDot), "0.0 KB/s");
}

TEST(TransferFormat, TimesOfDayUseTheLongFormatWithoutZone) {
    EXPECT_EQ(longTimeFormatWithoutZone(kCzech), "H:mm:ss");
    EXPECT_EQ(longTimeFormatWithoutZone(QLocale(QLocale::Spanish, QLocale::Spain)), "H:mm:ss");
    EXPECT_EQ(longTimeFormatWithoutZone(QLocale(QLocale::English, QLocale::UnitedStates)),
              "h:mm:ss AP");
    // A quoted t is text, not the zone.
    EXPECT_EQ(longTimeFormatWithoutZone(QLocale(QLocale::French, QLocale::Canada)),
              "HH 'h' mm 'min' ss 's'");
    EXPECT_EQ(timeOfDayText(65'000, kCzech), "0:01:05");
    EXPECT_EQ(timeOfDayText(0, kCzech), "0:00:00");
    EXPECT_EQ(timeOfDayText(-1, kCzech), "0:00:00");
    EXPECT_EQ(timeOfDayText(kMillisecondsPerDay + 65'000, kCzech), "0:01:05");
    // 9223372036854775807 ms leave 25975807 ms of their last day.
    EXPECT_EQ(timeOfDayText(std::numeric_limits<std::int64_t>::max(), kCzech), "7:12:55");

    EXPECT_EQ(elapsedText(dayFraction(1000), dayFraction(66'000), kCzech), "0:01:05");
    // Started before midnight, updated after it.
    EXPECT_EQ(elapsedText(dayFraction(kMillisecondsPerDay - 5000), dayFraction(60'000), kCzech),
              "0:01:05");
}

TEST(TransferFormat, CarriedWindowGivesTheRateOfTheLastSecondsOnly) {
    CarriedWindow window;
    EXPECT_FALSE(window.rate());
    // A burst at the start (what the link buffers at once) ...
    window.add(0, 64'000);
    window.add(999, 75'000);
    EXPECT_FALSE(window.rate());  // less than a second: no figure yet
    window.add(1000, 75'500);
    EXPECT_DOUBLE_EQ(*window.rate(), 11.5);
    // ... then the line's own pace of 11.5 bytes a millisecond, ticks wrapping around.
    std::uint32_t tick = 1000;
    std::int64_t total = 75'500;
    for (int i = 0; i < 20; ++i) {
        tick += 1000;
        total += 11'500;
        window.add(tick, total);
    }
    EXPECT_DOUBLE_EQ(*window.rate(), 11.5);
    window.clear();
    window.add(0xFFFFFC18u, 0);
    window.add(0x3E8, 23'000);  // 2000 ms later
    EXPECT_DOUBLE_EQ(*window.rate(), 11.5);
}

TEST(TransferFormat, SenderTextsComeFromWhatTheLineCarried) {
    CarriedInput input;
    input.size = 1'000'000;
    input.carried = 250'000;
    input.startTime = dayFraction(0);
    input.timeOfDay = dayFraction(65'000);
    ProgressTexts texts = senderProgressTexts(input, kCzech);
    EXPECT_EQ(texts, (ProgressTexts{"977 KB", "244 KB", "25 %", "0:01:05", "?", "?"}));
    // 750000 bytes at 12.5 bytes a millisecond: 60 s.
    input.rate = 12.5;
    texts = senderProgressTexts(input, kCzech);
    EXPECT_EQ(texts[colLeft - 1], "0:01:00");
    EXPECT_EQ(texts[colSpeed - 1], "12,5 KB/s");
    // A stalled line has no estimate; an absurdly slow one still gives a time of day.
    input.rate = 0.0;
    EXPECT_EQ(senderProgressTexts(input, kCzech)[colLeft - 1], "?");
    input.rate = 1e-300;
    EXPECT_FALSE(senderProgressTexts(input, kCzech)[colLeft - 1].isEmpty());
}

TEST(TransferFormat, ReceiverLeftDropsTheRemainderIn64Bits) {
    EXPECT_EQ(receiverLeftMilliseconds(1'000'000, 4096, 4096, 1000, 0), 243'000);
    EXPECT_EQ(timeOfDayText(243'000, kCzech), "0:04:03");
    // Larger than 32 bits, still exact; beyond 64 bits it saturates.
    EXPECT_EQ(receiverLeftMilliseconds(-1, 0, 0, 1'000'000, 0),
              std::int64_t{0xFFFFFFFF} * 1'000'000);
    EXPECT_EQ(receiverLeftMilliseconds(-1, 0, 0, 0xFFFFFFFFu, 0),
              std::numeric_limits<std::int64_t>::max());
    EXPECT_EQ(receiverLeftMilliseconds(1000, 1000, 0, 10, 0), 0);
    EXPECT_EQ(receiverLeftMilliseconds(1000, 1500, 0, 10, 0), -5000);
    EXPECT_EQ(receiverLeftMilliseconds(2000, 1000, 999, 0x100, 0xFFFFFF00u), 512);
}

TEST(TransferFormat, ProgressTextsOfALine) {
    const ProgressTexts initial = initialProgressTexts(20000, kDot);
    EXPECT_EQ(initial, (ProgressTexts{"20 KB", "0 B", "0 %", "0", "?", "?"}));

    ProgressInput input;
    input.size = 1'000'000;
    input.done = 4096;
    input.n = 4096;
    input.now = 1000;
    input.lastTick = 0;
    input.startTime = dayFraction(0);
    input.timeOfDay = dayFraction(65'000);
    const QLocale& czechDot = kCzech;
    const ProgressTexts received = progressTexts(input, czechDot);
    EXPECT_EQ(received[colSize - 1], "977 KB");
    EXPECT_EQ(received[colCompleted - 1], "4096 B");
    EXPECT_EQ(received[colPercent - 1], "0 %");
    EXPECT_EQ(received[colElapsed - 1], "0:01:05");
    EXPECT_EQ(received[colLeft - 1], "0:04:03");
    EXPECT_EQ(received[colSpeed - 1], "4,1 KB/s");
}

TEST(TransferFormat, ChangeStateGivesTheStateImage) {
    TTransfer transfer;
    transfer.Outgoing = true;
    EXPECT_EQ(changeState(transfer, siPaused), siSending);
    transfer.Outgoing = false;
    EXPECT_EQ(changeState(transfer, siPaused), siReceiving);
    transfer.State = tsPaused;
    EXPECT_EQ(changeState(transfer, siReceiving), siPaused);
    transfer.State = tsStopped;
    EXPECT_EQ(changeState(transfer, siReceiving), siStopped);
    transfer.State = tsAborted;
    EXPECT_EQ(changeState(transfer, siReceiving), siReceiving);
    EXPECT_EQ(changeState(transfer, siPaused), siPaused);
}
