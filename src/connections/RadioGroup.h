#pragma once

#include <QGroupBox>
#include <QList>

class QButtonGroup;
class QRadioButton;

namespace velmora {

// A titled group of radio buttons chosen by index. indexChanged is emitted for every change of
// the chosen index, made by the user or by the program; choosing the chosen one again is none.
class RadioGroup : public QGroupBox {
    Q_OBJECT

public:
    RadioGroup(const QString& title, const QStringList& items, QWidget* parent = nullptr);

    int itemIndex() const;
    // An index below the first choice chooses the first, one above the last chooses the last.
    void setItemIndex(int index);
    QString itemText(int index) const;
    void setItemText(int index, const QString& text);
    int count() const { return static_cast<int>(m_buttons.size()); }
    QRadioButton* button(int index) const { return m_buttons.at(index); }

signals:
    void indexChanged(int index);

private:
    QButtonGroup* m_group;
    QList<QRadioButton*> m_buttons;
};

}  // namespace velmora
