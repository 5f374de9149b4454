#pragma once

#include <QFrame>

namespace velmora {

// The connection wizard's picture, drawn here rather than loaded: two computers joined by the
// line chosen, a null-modem cable straight from port to port, or a modem beside each computer
// and the telephone line between them. A sunken panel, as the wizard's left side.
class WizardPicture : public QFrame {
public:
    explicit WizardPicture(QWidget* parent = nullptr);

    // The line drawn: the modems and the telephone line, or the cable.
    void setModem(bool modem);
    bool modem() const { return m_modem; }

protected:
    void paintEvent(QPaintEvent* event) override;

private:
    bool m_modem = true;
};

}  // namespace velmora
