#include "shell/Welcome.h"

#include "base/LinkLabel.h"
#include "base/ModalDialog.h"
#include "shell/Icons.h"
#include "shell/MainForm.h"

#include <QAction>
#include <QApplication>
#include <QCheckBox>
#include <QGridLayout>
#include <QHBoxLayout>
#include <QHideEvent>
#include <QLabel>
#include <QLinearGradient>
#include <QMenu>
#include <QPainter>
#include <QPushButton>
#include <QScreen>
#include <QVBoxLayout>

namespace velmora {

namespace {

// The band across the top of the window: the program's picture and name on a blue gradient.
QPixmap banner(int width) {
    QPixmap pixmap(width, 56);
    QPainter painter(&pixmap);
    QLinearGradient gradient(0, 0, width, 0);
    gradient.setColorAt(0, QColor(20, 60, 140));
    gradient.setColorAt(1, QColor(120, 170, 235));
    painter.fillRect(pixmap.rect(), gradient);
    painter.drawPixmap(12, 8, commandIcon(CommandIcon::Application).pixmap(40, 40));
    QFont font = painter.font();
    font.setPixelSize(22);
    font.setBold(true);
    painter.setFont(font);
    painter.setPen(Qt::white);
    painter.drawText(QRect(64, 0, width - 64, 56), Qt::AlignVCenter | Qt::AlignLeft,
                     QStringLiteral("Velmora"));
    return pixmap;
}

QLabel* picture(CommandIcon icon) {
    auto* label = new QLabel;
    label->setPixmap(commandIcon(icon).pixmap(24, 24));
    return label;
}

}  // namespace

TWelcome::TWelcome(TMainForm& mainForm) : m_mainForm(mainForm) {
    setObjectName(QStringLiteral("Welcome"));
    setWindowTitle(QStringLiteral("Welcome to Velmora !"));
    setWindowFlags(Qt::Dialog | Qt::CustomizeWindowHint | Qt::WindowTitleHint |
                   Qt::WindowSystemMenuHint | Qt::WindowCloseButtonHint);
    setModal(true);
    setAutoFillBackground(true);
    QPalette white = palette();
    white.setColor(QPalette::Window, Qt::white);
    setPalette(white);

    constexpr int Width = 440;
    auto* layout = new QVBoxLayout(this);
    layout->setContentsMargins(0, 0, 0, 12);
    auto* top = new QLabel;
    top->setPixmap(banner(Width));
    layout->addWidget(top);

    auto* body = new QGridLayout;
    body->setContentsMargins(24, 8, 24, 8);
    body->setHorizontalSpacing(10);
    body->setVerticalSpacing(8);
    auto* Label1 = new QLabel(QStringLiteral("What would you like to do?"));
    QFont heading = Label1->font();
    heading.setBold(true);
    heading.setPointSizeF(heading.pointSizeF() * 1.2);
    Label1->setFont(heading);
    body->addWidget(Label1, 0, 0, 1, 2);
    Label2 = new LinkLabel(QStringLiteral("Launch Connection Wizard (for beginners)"));
    Label3 = new LinkLabel(QStringLiteral("Create new connection (for experienced users)"));
    Label4 = new LinkLabel(QStringLiteral("Open existing connection"));
    Label5 = new LinkLabel(QStringLiteral("Open recent connection"));
    Label6 = new LinkLabel(QStringLiteral("Help me!"));
    const std::pair<LinkLabel*, CommandIcon> links[] = {{Label2, CommandIcon::Wizard},
                                                        {Label3, CommandIcon::NewConnection},
                                                        {Label4, CommandIcon::OpenConnection},
                                                        {Label5, CommandIcon::OpenConnection},
                                                        {Label6, CommandIcon::Help}};
    int row = 1;
    for (const auto& [label, icon] : links) {
        body->addWidget(picture(icon), row, 0);
        body->addWidget(label, row, 1);
        ++row;
    }
    body->setColumnStretch(1, 1);
    layout->addLayout(body);
    layout->addStretch();

    auto* bottom = new QHBoxLayout;
    bottom->setContentsMargins(24, 0, 24, 0);
    LoaderCheckBox = new QCheckBox(QStringLiteral("Show this window each time on startup"));
    LoaderCheckBox->setChecked(true);
    Button1 = new QPushButton(QStringLiteral("Close"));
    bottom->addWidget(LoaderCheckBox, 1);
    bottom->addWidget(Button1);
    layout->addLayout(bottom);

    connect(Label2, &LinkLabel::clicked, this, &TWelcome::Label2Click);
    connect(Label3, &LinkLabel::clicked, this, &TWelcome::Label3Click);
    connect(Label4, &LinkLabel::clicked, this, &TWelcome::Label4Click);
    connect(Label5, &LinkLabel::clicked, this, &TWelcome::Label5Click);
    connect(Label5, &LinkLabel::rightClicked, this, &TWelcome::chooseRecentConnection);
    connect(Label6, &LinkLabel::clicked, this, &TWelcome::Label6Click);
    connect(Button1, &QPushButton::clicked, this, &QDialog::reject);

    setFixedSize(Width, sizeHint().height());
}

void TWelcome::showModal() {
    if (const QScreen* screen = QApplication::primaryScreen()) {
        move(screen->availableGeometry().center() - rect().center());
    }
    // The keyboard starts on the first link: Tab goes down the links, Enter follows one.
    Label2->setFocus();
    velmora::showModal(*this);
}

void TWelcome::hideEvent(QHideEvent* event) {
    QDialog::hideEvent(event);
    if (!event->spontaneous()) {
        FormHide();
    }
}

void TWelcome::FormHide() {
    m_mainForm.options().Showloader = LoaderCheckBox->isChecked() ? 1 : 0;
    m_mainForm.UpdateOptions();
}

void TWelcome::Label2Click() {
    hide();
    m_mainForm.runWizardFromWelcome();
}

void TWelcome::Label3Click() {
    hide();
    m_mainForm.runNewConnectionFromWelcome();
}

void TWelcome::Label4Click() {
    hide();
    m_mainForm.runCommand(QStringLiteral("FileOpenItem"));
}

QPoint TWelcome::recentMenuPoint() const {
    return {pos().x() + Label5->x() + 40, pos().y() + Label5->y() + Label5->height() + 30};
}

void TWelcome::Label5Click() {
    chooseRecentConnection(recentMenuPoint());
}

void TWelcome::chooseRecentConnection(const QPoint& at) {
    // The recent menu's entries shown in a menu of this window's own, so that this window is
    // closed before the chosen entry opens its dialog, which it would otherwise cover. The menu
    // pops up without a loop of its own and goes once it has closed.
    auto* const menu = new QMenu(this);
    for (QAction* entry : m_mainForm.recentMenuEntries()) {
        QAction* shown = menu->addAction(entry->icon(), entry->text());
        shown->setEnabled(entry->isEnabled());
        shown->setSeparator(entry->isSeparator());
        shown->setData(QVariant::fromValue<QObject*>(entry));
    }
    connect(menu, &QMenu::aboutToHide, menu, &QObject::deleteLater);
    connect(menu, &QMenu::triggered, this, [this](const QAction* chosen) {
        hide();
        if (auto* entry = qobject_cast<QAction*>(chosen->data().value<QObject*>())) {
            entry->trigger();
        }
    });
    menu->popup(at);
}

void TWelcome::Label6Click() {
    hide();
    m_mainForm.HelpContents();
}

}  // namespace velmora
