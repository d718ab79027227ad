#pragma once

// Tells each window when it is handling the technician's own input (a key, a click, a touch), so
// that it can tell a choice made by hand from one a control makes by itself: the window's
// "handInput" is true from the moment such an event reaches it until the event loop runs again,
// and its "inputSerial" counts those events. Installed once, on the application.
void installHandInputWatch();
