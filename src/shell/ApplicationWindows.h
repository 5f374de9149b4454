#pragma once

#include "shell/MainFormContext.h"

#include <memory>

namespace velmora {

class TAboutBox;
class TConnectionForm;
class TMainForm;
class TOptionsForm;
class TWelcome;
class TWizardForm;

// The windows of one run of the program, created once in their order (the main window first)
// and kept until the end.
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
    TConnectionForm* connectionForm() const { return m_connectionForm.get(); }
    TOptionsForm* optionsForm() const { return m_optionsForm.get(); }
    TWizardForm* wizardForm() const { return m_wizardForm.get(); }
    TWelcome* welcome() const { return m_welcome.get(); }
    TAboutBox* aboutBox() const { return m_aboutBox.get(); }

private:
    std::unique_ptr<TMainForm> m_mainForm;
    std::unique_ptr<TConnectionForm> m_connectionForm;
    std::unique_ptr<TOptionsForm> m_optionsForm;
    std::unique_ptr<TWizardForm> m_wizardForm;
    std::unique_ptr<TWelcome> m_welcome;
    std::unique_ptr<TAboutBox> m_aboutBox;
};

}  // namespace velmora
