#include "session/link/SerialSettings.h"

namespace velmora {

QString flowControlName(FlowControl flow) {
    switch (flow) {
        case FlowControl::RtsCts:
            return QStringLiteral("RtsCts");
        case FlowControl::XonXoff:
            return QStringLiteral("XonXoff");
        case FlowControl::None:
            break;
    }
    return QStringLiteral("None");
}

std::optional<FlowControl> flowControlFromName(const QString& name) {
    for (const FlowControl flow : {FlowControl::None, FlowControl::RtsCts, FlowControl::XonXoff}) {
        if (name.compare(flowControlName(flow), Qt::CaseInsensitive) == 0) {
            return flow;
        }
    }
    return std::nullopt;
}

}  // namespace velmora
