import QtQuick

// A window that cannot be created: its root names no type.
NoSuchWindow {}
