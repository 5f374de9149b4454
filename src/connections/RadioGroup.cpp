#include "connections/RadioGroup.h"

#include <QButtonGroup>
#include <QRadioButton>
#include <QVBoxLayout>

#include <algorithm>

namespace velmora {

RadioGroup::RadioGroup(const QString& title, const QStringList& items, QWidget* parent)
    : QGroupBox(title, parent), m_group(new QButtonGroup(this)) {
    auto* layout = new QVBoxLayout(this);
    for (int i = 0; i < items.size(); ++i) {
        auto* button = new QRadioButton(items[i], this);
        m_group->addButton(button, i);
        m_buttons.append(button);
        layout->addWidget(button);
    }
    connect(m_group, &QButtonGroup::idToggled, this, [this](int id, bool checked) {
        if (checked) {
            emit indexChanged(id);
        }
    });
    makeOneTabStop(m_buttons);
}

void RadioGroup::makeOneTabStop(const QList<QRadioButton*>& buttons) {
    const auto update = [buttons] {
        const bool anyChosen = std::any_of(buttons.begin(), buttons.end(),
                                           [](const QRadioButton* b) { return b->isChecked(); });
        for (QRadioButton* button : buttons) {
            const bool stop = anyChosen ? button->isChecked() : button == buttons.first();
            button->setFocusPolicy(stop ? Qt::StrongFocus : Qt::ClickFocus);
        }
    };
    for (QRadioButton* button : buttons) {
        connect(button, &QRadioButton::toggled, button, update);
    }
    update();
}

int RadioGroup::itemIndex() const {
    return m_group->checkedId();
}

void RadioGroup::setItemIndex(int index) {
    if (m_buttons.isEmpty()) {
        return;
    }
    m_buttons[std::clamp(index, 0, count() - 1)]->setChecked(true);
}

QString RadioGroup::itemText(int index) const {
    return m_buttons.at(index)->text();
}

void RadioGroup::setItemText(int index, const QString& text) {
    m_buttons[index]->setText(text);
}

}  // namespace velmora
