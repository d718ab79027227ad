import QtQuick
import QtQuick.Controls
import QtQuick.Layouts

// The program's name, version and copyright.
Dialog {
    id: aboutDialog
    // The program's version, and whether the window is dark (the black logo then needs a plate).
    required property string version
    required property bool dark
    modal: true
    // Centred over the window rather than at its top-left corner, where it covered the toolbar.
    anchors.centerIn: Overlay.overlay
    onOpened: aboutCloseButton.forceActiveFocus()

    ColumnLayout {
        spacing: 16

        Image {
            source: "qrc:/Brindlemoor.png"
            Rectangle {
                z: -1
                anchors.fill: parent
                anchors.margins: -3
                radius: 3
                color: "white"
                visible: aboutDialog.dark
            }
        }
        Label {
            Layout.fillWidth: true
            horizontalAlignment: Text.AlignHCenter
            text: "Version " + aboutDialog.version + "\n\n"
                  + qsTr("Copyright © 2026 Brindlemoor Ltd.\nAll rights reserved.")
        }
    }
    footer: DialogButtonBox {
        Button {
            id: aboutCloseButton
            objectName: "aboutCloseButton"
            text: qsTr("Close")
            onClicked: aboutDialog.close()
            Accessible.name: aboutCloseButton.text
            Accessible.onPressAction: aboutCloseButton.clicked()
        }
    }
}
