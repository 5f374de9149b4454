#include "shell/ApplicationWindows.h"

#include "connections/ConnectionForm.h"
#include "connections/WizardForm.h"
#include "shell/AboutBox.h"
#include "shell/MainForm.h"
#include "shell/OptionsForm.h"
#include "shell/Welcome.h"

namespace velmora {

ApplicationWindows::ApplicationWindows(MainFormContext context)
    : m_mainForm(std::make_unique<TMainForm>(std::move(context))) {}

// The other windows refer to the main window: they go first.
ApplicationWindows::~ApplicationWindows() {
    m_aboutBox.reset();
    m_welcome.reset();
    m_wizardForm.reset();
    m_optionsForm.reset();
    m_connectionForm.reset();
}

bool ApplicationWindows::create() {
    if (!m_mainForm->FormCreate()) {
        return false;
    }
    m_connectionForm =
        std::make_unique<TConnectionForm>(m_mainForm->connectionFormContext(), m_mainForm.get());
    m_optionsForm = std::make_unique<TOptionsForm>(*m_mainForm);
    m_wizardForm =
        std::make_unique<TWizardForm>(m_mainForm->connectionFormContext(), m_mainForm.get());
    m_welcome = std::make_unique<TWelcome>(*m_mainForm);
    m_aboutBox = std::make_unique<TAboutBox>(*m_mainForm);
    m_mainForm->attachWindows(m_connectionForm.get(), m_optionsForm.get(), m_wizardForm.get(),
                              m_welcome.get(), m_aboutBox.get());
    return true;
}

void ApplicationWindows::show() {
    m_mainForm->show();
    m_mainForm->activateWindow();
}

}  // namespace velmora
