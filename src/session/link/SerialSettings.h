#pragma once

#include <QString>

#include <optional>

namespace velmora {

enum class FlowControl { None, RtsCts, XonXoff };

// How a serial port is driven: always 8 data bits, no parity, one stop bit.
struct SerialSettings {
    static constexpr int kMinBaud = 300;
    static constexpr int kMaxBaud = 4000000;

    // A name the system lists ("ttyUSB0", "ttyS0") or a device path typed by hand
    // ("/dev/pts/7").
    QString portName;
    int baud = 115200;
    FlowControl flow = FlowControl::None;

    bool isValid() const { return !portName.isEmpty() && baud >= kMinBaud && baud <= kMaxBaud; }
    friend bool operator==(const SerialSettings&, const SerialSettings&) = default;
};

// "None", "RtsCts", "XonXoff": the names used in files and on command lines.
QString flowControlName(FlowControl flow);
std::optional<FlowControl> flowControlFromName(const QString& name);

}  // namespace velmora
