#pragma once

#include <QString>

namespace velmora::test {

// Points VELMORA_HOME, HOME and every XDG folder into one temporary folder that lives as long as
// the test process. Returns that folder.
QString prepareTestEnvironment();

// A new empty folder under the test process's temporary folder.
QString makeTempFolder(const QString& prefix);

}  // namespace velmora::test
