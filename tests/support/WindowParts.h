#pragma once

#include <QObject>
#include <QString>

#include <gtest/gtest.h>

namespace velmora::test {

// A part of a window found by its object name, as a user's tools find it on the screen: tests
// reach widgets through the window's object tree, not through its members. Fails the test when
// there is none.
template <class Part>
Part* part(const QObject& window, const QString& name) {
    auto* found = window.findChild<Part*>(name);
    EXPECT_NE(found, nullptr) << "no " << name.toStdString() << " in the window";
    return found;
}

}  // namespace velmora::test
