#pragma once
// How tests reach a window's or a dialog's controls: by object name, as a user finds them on
// screen, never through the window's members.

#include <QObject>
#include <QString>
#include <stdexcept>
#include <string>

namespace form_access {

inline QString Name(const char* name) {
    return QString::fromLatin1(name);
}

} // namespace form_access

// The control or component named `name` somewhere inside `window`. A missing one ends the
// test with an error that names it (instead of a null pointer further on).
template <typename T> T* Control(const QObject& window, const char* name) {
    T* found = window.findChild<T*>(form_access::Name(name));
    if (found == nullptr) {
        throw std::runtime_error(std::string("no control named ") + name + " of the expected type");
    }
    return found;
}
