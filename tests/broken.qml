import QtQuick

// A window that cannot be created: one of its elements names no type.
Window {
    visible: true
    NoSuchElement {}
}
