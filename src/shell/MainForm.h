#pragma once

#include <QMainWindow>

namespace velmora {

// The main window.
class TMainForm : public QMainWindow {
    Q_OBJECT

public:
    explicit TMainForm(QWidget* parent = nullptr);
};

}  // namespace velmora
