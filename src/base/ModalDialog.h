#pragma once

#include <QPointer>

#include <functional>
#include <utility>

class QDialog;

namespace velmora {

// Shows `dialog` modal to the whole application, as exec() would, but without an event loop of
// its own: the caller returns at once and the UI thread goes on; `closed` runs once when the
// dialog finishes.
void showModal(QDialog& dialog, std::function<void()> closed = {});

// `then` made to do nothing once `owner` has gone: a dialog's continuation may run after the
// window that asked, and what it captured, have been destroyed.
template <typename Then>
auto whileAlive(const QObject* owner, Then then) {
    return [owner = QPointer<const QObject>(owner), then = std::move(then)](auto&&... args) {
        if (owner) {
            then(std::forward<decltype(args)>(args)...);
        }
    };
}

}  // namespace velmora
