#pragma once

#include "connections/ConnectionFormSupport.h"

#include <QDialog>

class QComboBox;
class QLabel;
class QPushButton;
class QRadioButton;
class QStackedWidget;

namespace velmora {

class LinkLabel;
class WizardPicture;

// The connection wizard: the same connection as the New connection dialog, one question a page.
class TWizardForm : public QDialog {
    Q_OBJECT

public:
    static inline const QString SelectProvider = QStringLiteral("SelectProvider");
    static inline const QString SessionType = QStringLiteral("SessionType");
    static inline const QString SelectModem = QStringLiteral("SelectModem");
    static inline const QString EnterPhoneNumber = QStringLiteral("EnterPhoneNumber");
    static inline const QString NextCaption = QStringLiteral("Next >");
    static inline const QString CompleteCaption = QStringLiteral("Complete");
    // Further searches of a modem call made with "Other modem...", which has no phone page.
    static constexpr int OtherModemRetries = 100;

    explicit TWizardForm(ConnectionFormContext context, QWidget* parent = nullptr);

    // The page with the name, and the name of the page shown.
    void showPage(const QString& name);
    QString pageName() const;

    void FormShow();
    void NotebookPageChanged();
    void NewGameClick();
    void NextButtonClick();
    void BackButtonClick();
    void CancelButtonClick();
    void Label7Click();

    QStackedWidget* Notebook = nullptr;
    // The picture on the left: the line of the method chosen.
    WizardPicture* Picture = nullptr;
    QRadioButton* Modem = nullptr;
    QRadioButton* Nullmodem = nullptr;
    QRadioButton* NewGame = nullptr;
    QRadioButton* JoinGame = nullptr;
    QLabel* Label3 = nullptr;
    // What an attempt under way is doing, or that it was cancelled.
    QLabel* StatusLabel = nullptr;
    QComboBox* ModemComboBox = nullptr;
    LinkLabel* Label7 = nullptr;
    QComboBox* ModemPhoneNumber = nullptr;
    QPushButton* BackButton = nullptr;
    QPushButton* NextButton = nullptr;
    QPushButton* CancelButton = nullptr;

public slots:
    void reject() override;

protected:
    void showEvent(QShowEvent* event) override;
    void keyPressEvent(QKeyEvent* event) override;

private:
    QWidget* addPage(const QString& name, const QString& question);
    void FormKeyDown(QKeyEvent* event);
    // The connect of the chosen method and role, closing the wizard when a session opened.
    void connectAndClose(const ConnectRequest& request);
    ConnectRequest requestFor(bool nullModem, bool calling) const;

    ConnectionFormSupport m_support;
};

}  // namespace velmora
