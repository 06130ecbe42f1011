#pragma once
// What assistive technology reads of a status panel bar: the bar is a status bar with one
// child per panel, each a piece of static text named after what the panel tells and whose
// text is what the panel shows. The panels are painted, so without this a screen reader
// would find an empty bar.

class QString;
class TStatusPanelBar;

// Makes the accessibility framework use these interfaces for every status panel bar; safe to
// call more than once.
void InstallStatusPanelAccessibility();

// Tells assistive technology that a panel now shows another text.
void NotifyStatusPanelTextChanged(TStatusPanelBar* bar, int index, const QString& oldText);
