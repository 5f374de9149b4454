#pragma once

#include <QString>

namespace velmora::TerminalText {

// Text from the other side made safe to print on a terminal, so that it can neither move the
// cursor, clear the screen, retitle the window nor forge a line that looks local: every control
// character is shown visibly, C0 controls and DEL in caret notation ("^[" for ESC, "^J" for a
// line feed, "^?" for DEL), C1 controls, line and paragraph separators and invisible formatting
// characters (direction overrides, zero-width characters) as "<U+202E>".
// A tab stays a tab; everything else is kept as it is.
QString visible(const QString& text);

// Whether a file name offered by the other side holds a character that visible() would change
// (tab included): such a name is refused rather than created or printed.
bool hasControlCharacters(const QString& fileName);

}  // namespace velmora::TerminalText
