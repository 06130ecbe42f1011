#pragma once
// The application object's flags that are read when the program starts running.

namespace Application {

// Whether the program shows its main form when it starts; a component may switch it off
// (start minimised to the tray) before the program reads it.
inline bool ShowMainForm = true;

} // namespace Application
