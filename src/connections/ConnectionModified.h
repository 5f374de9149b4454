#pragma once

namespace velmora {

// The events that decide whether the current connection settings differ from what was last
// opened, saved or dropped (the main window's ConnectionModified flag).
enum class ConnectionEvent {
    ProgramStart,
    DialogFieldChanged,         // method, mode or session name in the New connection dialog
    WizardNext,                 // each Next or Complete in the wizard
    StartWindowLink,            // the start-up window opened the wizard or the dialog
    OpenedFromMenuOrToolbar,    // once the file is loaded
    OpenedRecentOrCommandLine,  // the flag stays as the dialog left it
    Saved,                      // Save or Save As, once written
    Disconnected,
};

// The flag after the event, given its value before.
constexpr bool connectionModifiedAfter(ConnectionEvent event, bool before) {
    switch (event) {
        case ConnectionEvent::DialogFieldChanged:
        case ConnectionEvent::WizardNext:
        case ConnectionEvent::StartWindowLink:
            return true;
        case ConnectionEvent::ProgramStart:
        case ConnectionEvent::OpenedFromMenuOrToolbar:
        case ConnectionEvent::Saved:
        case ConnectionEvent::Disconnected:
            return false;
        case ConnectionEvent::OpenedRecentOrCommandLine:
            return before;
    }
    return before;
}

}  // namespace velmora
