#pragma once
// How tests reach a window's or a dialog's controls: by object name, as a user finds them on
// screen, never through the window's members.

#include <QObject>
#include <QString>
#include <stdexcept>
#include <string>

namespace testing_support {

inline QString Name(const char* name) {
    return QString::fromLatin1(name);
}

} // namespace testing_support

// The control or component named `name` somewhere inside `window`. A missing one ends the
// test with an error that names it (instead of a null pointer further on).
template <typename T> T* Control(const QObject& window, const char* name) {
    T* found = window.findChild<T*>(testing_support::Name(name));
    if (found == nullptr) {
        throw std::runtime_error(std::string("no control named ") + name + " of the expected type");
    }
    return found;
}
