#pragma once

#include <QIcon>

namespace velmora {

// The pictures of the commands, drawn in code at 16 x 16 and 24 x 24 pixels, each with a grey
// image for its disabled state.
enum class CommandIcon {
    Wizard,
    NewConnection,
    OpenConnection,
    Save,
    Disconnect,
    Options,
    Cut,
    Copy,
    Paste,
    SendFile,
    ReceiveFile,
    TransfersList,
    Help,
    Abort,
    Pause,
    Resume,
    Send,
    Clear,
    Print,
    Link,
    Application
};

QIcon commandIcon(CommandIcon icon);

}  // namespace velmora
