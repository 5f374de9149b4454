#pragma once

#include <functional>

class QDialog;

namespace velmora {

// Shows `dialog` modal to the whole application, as exec() would, but without an event loop of
// its own: the caller returns at once and the UI thread goes on; `closed` runs once when the
// dialog finishes.
void showModal(QDialog& dialog, std::function<void()> closed = {});

}  // namespace velmora
