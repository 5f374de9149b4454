#include "shell/HelpWindow.h"

#include "base/HelpTopic.h"
#include "shell/Icons.h"

#include <QFileInfo>
#include <QHBoxLayout>
#include <QPushButton>
#include <QTextBrowser>
#include <QVBoxLayout>

namespace velmora {

THelpWindow::THelpWindow(QString helpFolder, QWidget* owner)
    : QWidget(owner, Qt::Window), m_helpFolder(std::move(helpFolder)) {
    setObjectName(QStringLiteral("HelpWindow"));
    setWindowTitle(QStringLiteral("Velmora Help"));
    setWindowIcon(commandIcon(CommandIcon::Help));
    auto* layout = new QVBoxLayout(this);
    auto* buttons = new QHBoxLayout;
    auto* back = new QPushButton(QStringLiteral("< &Back"));
    auto* forward = new QPushButton(QStringLiteral("&Forward >"));
    auto* contents = new QPushButton(QStringLiteral("&Contents"));
    buttons->addWidget(back);
    buttons->addWidget(forward);
    buttons->addWidget(contents);
    buttons->addStretch();
    layout->addLayout(buttons);
    m_browser = new QTextBrowser;
    m_browser->setOpenExternalLinks(true);
    m_browser->setSearchPaths({m_helpFolder});
    layout->addWidget(m_browser, 1);
    back->setEnabled(false);
    forward->setEnabled(false);
    connect(m_browser, &QTextBrowser::backwardAvailable, back, &QWidget::setEnabled);
    connect(m_browser, &QTextBrowser::forwardAvailable, forward, &QWidget::setEnabled);
    connect(back, &QPushButton::clicked, m_browser, &QTextBrowser::backward);
    connect(forward, &QPushButton::clicked, m_browser, &QTextBrowser::forward);
    connect(contents, &QPushButton::clicked, this, [this] { showTopic(HelpTopic::Introduction); });
    resize(640, 480);
}

void THelpWindow::showTopic(const QString& topic) {
    const QString page = HelpTopic::pageFile(m_helpFolder, topic);
    if (!page.isEmpty() && QFileInfo(page).isFile()) {
        m_browser->setSource(QUrl::fromLocalFile(page));
    } else {
        m_browser->setHtml(
            QStringLiteral("<h2>Page not found</h2><p>The help page <i>%1</i> is missing from "
                           "%2.</p>")
                .arg(topic.toHtmlEscaped(), m_helpFolder.toHtmlEscaped()));
    }
    show();
    raise();
    activateWindow();
}

}  // namespace velmora
