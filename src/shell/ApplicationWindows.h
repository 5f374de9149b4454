#pragma once

#include "shell/MainFormContext.h"

#include <memory>

namespace velmora {

class TAboutBox;
class TMainForm;
class TOptionsForm;
class TWelcome;

// The windows of one run of the program, created once in their order (the main window first)
// and kept until the end. The connection dialog and the wizard join them from their own folder.
class ApplicationWindows {
public:
    explicit ApplicationWindows(MainFormContext context);
    ~ApplicationWindows();

    // The main window's start-up steps, then the other windows. False when the program is to
    // end at once (the uninstall feedback step); then only the main window exists.
    bool create();
    // Shows the main window; its first activation goes on from there.
    void show();

    TMainForm& mainForm() const { return *m_mainForm; }
    TOptionsForm* optionsForm() const { return m_optionsForm.get(); }
    TWelcome* welcome() const { return m_welcome.get(); }
    TAboutBox* aboutBox() const { return m_aboutBox.get(); }

private:
    std::unique_ptr<TMainForm> m_mainForm;
    std::unique_ptr<TOptionsForm> m_optionsForm;
    std::unique_ptr<TWelcome> m_welcome;
    std::unique_ptr<TAboutBox> m_aboutBox;
};

}  // namespace velmora
