#pragma once

// Qt Quick gives its progress bars no value for a screen reader (Qt 6.4): this gives them one,
// the bar's "value" between "from" and "to", and tells the screen reader when it changes.
// Installed once, before the window loads.
void installAccessibleProgressBars();
