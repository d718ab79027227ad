#pragma once

// Qt Quick (6.4) tells a screen reader that every button, list and field is enabled, greyed out
// or not, and lists a button's press twice when the window handles it. This makes the window's
// controls say when they are disabled, refuse to act then, and list each action once. Installed
// once, before the window loads.
void installAccessibleControls();
