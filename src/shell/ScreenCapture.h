#pragma once

#include <QString>

namespace velmora {

class ApplicationWindows;

// A developer aid: shows each window of the program in turn and saves its picture as a PNG
// file into the folder (main window, Options dialog pages, start-up window, About box, help).
// Returns false when a picture could not be written.
bool captureWindows(ApplicationWindows& windows, const QString& folder);

}  // namespace velmora
