#include "shell/AboutBox.h"

#include "base/LinkLabel.h"
#include "base/ModalDialog.h"
#include "shell/Icons.h"
#include "shell/MainForm.h"

#include <QCoreApplication>
#include <QGridLayout>
#include <QHBoxLayout>
#include <QLabel>
#include <QPushButton>
#include <QVBoxLayout>

namespace velmora {

TAboutBox::TAboutBox(TMainForm& mainForm) : m_mainForm(mainForm) {
    setObjectName(QStringLiteral("AboutBox"));
    setWindowTitle(QStringLiteral("Velmora"));
    setModal(true);

    auto* Image1 = new QLabel;
    Image1->setPixmap(commandIcon(CommandIcon::Application).pixmap(64, 64));
    Image1->setAlignment(Qt::AlignTop);
    auto* ProductName = new QLabel(QStringLiteral("Velmora"));
    QFont bold = ProductName->font();
    bold.setBold(true);
    bold.setPointSizeF(bold.pointSizeF() * 1.4);
    ProductName->setFont(bold);
    // The program's own version, and the installed package's where the program knows it.
    const QString package = QCoreApplication::applicationVersion();
    auto* Version =
        new QLabel(package.isEmpty() ? QStringLiteral("Version 4.2")
                                     : QStringLiteral("Version 4.2 (package %1)").arg(package));
    auto* Label3 = new QLabel(QStringLiteral("Copyright \u00a9 Oskvale Software"));
    auto* Label4 = new QLabel(
        QStringLiteral("Talk and send files between two computers\nover a modem line or a "
                       "null-modem cable."));
    Label5 = new LinkLabel(QString());

    auto* text = new QVBoxLayout;
    text->addWidget(ProductName);
    text->addWidget(Version);
    text->addSpacing(8);
    text->addWidget(Label3);
    text->addWidget(Label4);
    text->addSpacing(8);
    text->addWidget(Label5);
    auto* top = new QHBoxLayout;
    top->addWidget(Image1);
    top->addSpacing(12);
    top->addLayout(text, 1);

    Button1 = new QPushButton(QStringLiteral("OK"));
    Button1->setDefault(true);
    auto* bottom = new QHBoxLayout;
    bottom->addStretch();
    bottom->addWidget(Button1);
    bottom->addStretch();

    auto* layout = new QVBoxLayout(this);
    layout->setContentsMargins(16, 16, 16, 12);
    layout->addLayout(top);
    layout->addSpacing(12);
    layout->addLayout(bottom);

    connect(Label5, &LinkLabel::clicked, this, &TAboutBox::Label5Click);
    connect(Button1, &QPushButton::clicked, this, &QDialog::accept);
}

void TAboutBox::showModal(QWidget* over, std::function<void()> closed) {
    Label5->setText(m_mainForm.options().SiteURL);
    adjustSize();
    setFixedSize(sizeHint());
    if (over != nullptr) {
        move(over->frameGeometry().center() - rect().center());
    }
    velmora::showModal(*this, std::move(closed));
}

void TAboutBox::Label5Click() {
    m_mainForm.Website1Click();
}

}  // namespace velmora
