#pragma once

#include <QDialog>

#include <functional>

class QPushButton;

namespace velmora {

class LinkLabel;
class TMainForm;

// The About box: the program's version, its maker and the web site.
class TAboutBox : public QDialog {
    Q_OBJECT

public:
    explicit TAboutBox(TMainForm& mainForm);

    // Shows the box modally, centred on the window, without waiting: `closed` runs when it closes.
    void showModal(QWidget* over, std::function<void()> closed);
    void Label5Click();

    LinkLabel* Label5 = nullptr;
    QPushButton* Button1 = nullptr;

private:
    TMainForm& m_mainForm;
};

}  // namespace velmora
