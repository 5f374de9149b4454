#pragma once

#include <QByteArray>
#include <QString>

namespace velmora {

// The conversation as a Rich Text Format document: one paragraph per line, in the view's font,
// with no other formatting. Characters of Windows-1252 are written as its bytes, others as
// Unicode escapes with "?" for readers that do not know them.
QByteArray plainTextToRtf(const QString& text);

}  // namespace velmora
