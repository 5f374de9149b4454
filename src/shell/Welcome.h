#pragma once

#include <QDialog>

class QCheckBox;
class QPushButton;

namespace velmora {

class LinkLabel;
class TMainForm;

// The start-up window: the first steps offered when the program starts.
class TWelcome : public QDialog {
    Q_OBJECT

public:
    explicit TWelcome(TMainForm& mainForm);

    // Shows the window modally, centred on the screen.
    void showModal();

    void Label2Click();  // Launch Connection Wizard
    void Label3Click();  // Create new connection
    void Label4Click();  // Open existing connection
    void Label5Click();  // Open recent connection
    void Label6Click();  // Help me!
    // The recent-connections menu's point for Label5Click, in screen coordinates.
    QPoint recentMenuPoint() const;

    LinkLabel* Label2 = nullptr;
    LinkLabel* Label3 = nullptr;
    LinkLabel* Label4 = nullptr;
    LinkLabel* Label5 = nullptr;
    LinkLabel* Label6 = nullptr;
    QCheckBox* LoaderCheckBox = nullptr;
    QPushButton* Button1 = nullptr;

protected:
    void hideEvent(QHideEvent* event) override;

private:
    // Offers the recent connections at a point of the screen; a chosen one closes this window
    // and opens.
    void chooseRecentConnection(const QPoint& at);
    // Stores the check box into Showloader and writes the options.
    void FormHide();

    TMainForm& m_mainForm;
};

}  // namespace velmora
