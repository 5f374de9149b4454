#pragma once

class QWidget;

namespace velmora {

// Places a prompt that a connection attempt opens centred over the window the user works in
// (the active window), and has the window manager keep it above that window, as a prompt of
// that window. Nothing when no other window is active.
void placeOverActiveWindow(QWidget& prompt);

}  // namespace velmora
