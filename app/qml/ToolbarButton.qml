import QtQuick
import QtQuick.Controls

// A toolbar button for an action: its icon tinted like the labels, so that it greys out with
// them, and a screen reader's press triggers the action.
ToolButton {
    id: button
    padding: 8
    icon.width: 24
    icon.height: 24
    icon.color: palette.buttonText
    Accessible.name: button.action ? button.action.text : ""
    Accessible.onPressAction: {
        if (button.action)
            button.action.trigger()
    }
}
