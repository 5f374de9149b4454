#pragma once

#include "connections/ConnectionFormSupport.h"

#include <QDialog>

class QComboBox;
class QLabel;
class QLineEdit;
class QPushButton;

namespace velmora {

class LinkLabel;
class RadioGroup;
struct ConnectionSettings;

// The New connection dialog: the method, the role, the session name, the modem and the number,
// and Connect, which hosts a session or joins the one of the other computer.
class TConnectionForm : public QDialog {
    Q_OBJECT

public:
    explicit TConnectionForm(ConnectionFormContext context, QWidget* parent = nullptr);

    // Sets the fields from a connection file, as the file's opening does once the dialog shows.
    void fill(const ConnectionSettings& settings);

    void FormActivate();
    void ConnectionMethodClick();
    void ConnectionModeClick();
    void Edit1Change();
    void ConnectButtonClick();
    void Button2Click();
    void Button3Click();
    void Label2Click();

    QLineEdit* Edit1 = nullptr;
    RadioGroup* ConnectionMethod = nullptr;
    RadioGroup* ConnectionMode = nullptr;
    QComboBox* ModemComboBox = nullptr;
    LinkLabel* Label2 = nullptr;
    QComboBox* ModemPhoneNumber = nullptr;
    QPushButton* ConnectButton = nullptr;
    QPushButton* Button2 = nullptr;
    QPushButton* Button3 = nullptr;
    // What an attempt under way is doing, or that it was cancelled.
    QLabel* StatusLabel = nullptr;

public slots:
    void reject() override;

protected:
    void showEvent(QShowEvent* event) override;
    void keyPressEvent(QKeyEvent* event) override;

private:
    void FormKeyDown(QKeyEvent* event);
    // Centres the dialog on the window that owns it (on the screen while that is not shown),
    // its whole frame within the screen's free area.
    void placeOverOwner();

    ConnectionFormSupport m_support;
};

}  // namespace velmora
