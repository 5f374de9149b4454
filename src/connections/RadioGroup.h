#pragma once

#include <QGroupBox>
#include <QList>

class QButtonGroup;
class QRadioButton;

namespace velmora {

// A titled group of radio buttons chosen by index. indexChanged is emitted for every change of
// the chosen index, made by the user or by the program; choosing the chosen one again is none.
// The group is one stop of the Tab key (makeOneTabStop).
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

    // Makes the buttons (radio buttons of one choice) one stop of the Tab key, on the chosen
    // button or the first while none is; the arrow keys move the choice among them.
    static void makeOneTabStop(const QList<QRadioButton*>& buttons);

signals:
    void indexChanged(int index);

private:
    QButtonGroup* m_group;
    QList<QRadioButton*> m_buttons;
};

}  // namespace velmora
