#pragma once

#include <QDialog>

#include <functional>

class QButtonGroup;
class QCheckBox;
class QComboBox;
class QLineEdit;
class QPushButton;
class QTabWidget;

namespace velmora {

class TMainForm;

// The Options dialog: edits the option values of a main window on two pages.
class TOptionsForm : public QDialog {
    Q_OBJECT

public:
    explicit TOptionsForm(TMainForm& mainForm);

    // Fills the controls from the current values and shows the dialog modally over the window,
    // without waiting: `closed` runs when it closes.
    void showModal(QWidget* over, std::function<void()> closed);
    // Fills the controls from the main window's current values.
    void FormActivate();
    void BitBtn1Click();  // OK
    void BitBtn3Click();  // Help
    void Button6Click();  // the folder browser

    QTabWidget* PageControl1 = nullptr;
    QButtonGroup* InterfaceRadioGroup = nullptr;
    QComboBox* SpeedComboBox = nullptr;
    QLineEdit* Edit1 = nullptr;
    QPushButton* Button6 = nullptr;
    QButtonGroup* ViewRadioGroup = nullptr;
    QCheckBox* CheckBox5 = nullptr;
    QCheckBox* CheckBox4 = nullptr;
    QCheckBox* ReconnectCheckBox = nullptr;
    QCheckBox* NotifyCheckBox = nullptr;
    QLineEdit* Edit2 = nullptr;
    QPushButton* BitBtn1 = nullptr;
    QPushButton* BitBtn2 = nullptr;
    QPushButton* BitBtn3 = nullptr;

protected:
    void keyPressEvent(QKeyEvent* event) override;

private:
    TMainForm& m_mainForm;
};

}  // namespace velmora
