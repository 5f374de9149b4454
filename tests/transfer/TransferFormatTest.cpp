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

TEST(TransferFormat, RatesHaveOneDecimal) {
    EXPECT_EQ(rateText(4.096, kDot), "4.1 KB/s");
    EXPECT_EQ(rateText(4.096, kGerman), "4,1 KB/s");
    EXPECT_EQ(rateText(0.0, kDot), "0.0 KB/s");
    EXPECT_EQ(rateText(32768.0, kDot), "32768.0 KB/s");  // no group separator
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
}

TEST(TransferFormat, TheRunningClockLeavesPausesOutAndStopsAtTheEnd) {
    TTransfer transfer;
    transfer.startClock(0xFFFFFC18u);  // a second before the tick count wraps
    EXPECT_EQ(transfer.elapsedMs(0x3E8), 2000U);
    transfer.stopClock(0x3E8);
    transfer.State = tsPaused;
    EXPECT_EQ(transfer.elapsedMs(90'000), 2000U);  // a pause of a minute and a half
    transfer.State = tsRunning;
    transfer.startClock(90'000);
    EXPECT_EQ(transfer.elapsedMs(93'000), 5000U);
    // Never backwards across a pause and its resume.
    transfer.stopClock(93'500);
    transfer.State = tsPaused;
    EXPECT_EQ(transfer.elapsedMs(93'500), 5500U);
    transfer.State = tsRunning;
    transfer.startClock(100'000);
    EXPECT_EQ(transfer.elapsedMs(100'000), 5500U);
    transfer.stopClock(101'000);
    transfer.State = tsStopped;
    EXPECT_EQ(transfer.elapsedMs(500'000), 6500U);
}

TEST(TransferFormat, RateWindowGivesTheRateOfTheLastSecondsOnly) {
    RateWindow window;
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

TEST(TransferFormat, LiveTextsComeFromTheCountTheRateAndTheRunningTime) {
    LiveProgress input;
    input.size = 1'000'000;
    input.counted = 250'000;
    input.elapsedMs = 65'000;
    ProgressTexts texts = liveProgressTexts(input, kCzech);
    EXPECT_EQ(texts, (ProgressTexts{"977 KB", "244 KB", "25 %", "0:01:05", "?", "?"}));
    // 750000 bytes at 12.5 bytes a millisecond: 60 s.
    input.rate = 12.5;
    texts = liveProgressTexts(input, kCzech);
    EXPECT_EQ(texts[colLeft - 1], "0:01:00");
    EXPECT_EQ(texts[colSpeed - 1], "12,5 KB/s");
    // Paused: no speed and no time left, whatever the rate was.
    input.paused = true;
    texts = liveProgressTexts(input, kCzech);
    EXPECT_EQ(texts[colLeft - 1], "");
    EXPECT_EQ(texts[colSpeed - 1], "");
    EXPECT_EQ(texts[colCompleted - 1], "244 KB");
    // A stalled line has no estimate; an absurdly slow one still gives a time of day.
    input.paused = false;
    input.rate = 0.0;
    EXPECT_EQ(liveProgressTexts(input, kCzech)[colLeft - 1], "?");
    input.rate = 1e-300;
    EXPECT_FALSE(liveProgressTexts(input, kCzech)[colLeft - 1].isEmpty());
    // Size taken as unsigned: a count past it leaves nothing.
    input.counted = 1'000'001;
    input.rate = 1.0;
    EXPECT_EQ(liveProgressTexts(input, kCzech)[colLeft - 1], "0:00:00");
}

TEST(TransferFormat, ANewLineStartsAtWhatItAlreadyHolds) {
    EXPECT_EQ(initialProgressTexts(20000, 0, kDot),
              (ProgressTexts{"20 KB", "0 B", "0 %", "0", "?", "?"}));
    // A file resumed from 32 KB starts there.
    EXPECT_EQ(initialProgressTexts(65536, 32768, kDot),
              (ProgressTexts{"64 KB", "32 KB", "50 %", "0", "?", "?"}));
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
