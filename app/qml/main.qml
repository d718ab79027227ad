import QtQuick
import QtQuick.Controls
import QtQuick.Dialogs
import QtQuick.Layouts
import com.brindlemoor.TsTxDownloader 1.0

ApplicationWindow {
    id: app
    objectName: "app"
    visible: true
    width: 640
    height: 280
    title: qsTr("Tessaline Transmitter Update Tool")

    // A run may not be left half-way: no closing until the updater reports its end.
    onClosing: (close) => {
        if (!toolBar.enabled)
            close.accepted = false
    }

    header: ToolBar {
        id: toolBar
        objectName: "toolBar"
        // Tall enough for the 24-pixel icons and a legible logo; the toolbar has two items, so
        // it cannot take its height from its content.
        contentHeight: 40

        // The icons are black glyphs: tinted like the labels, they grey out with them.
        RowLayout {
            ToolButton {
                objectName: "openButton"
                padding: 8
                icon.width: 24
                icon.height: 24
                icon.color: palette.buttonText
                action: openAction
            }
            ToolButton {
                objectName: "aboutButton"
                padding: 8
                icon.width: 24
                icon.height: 24
                icon.color: palette.buttonText
                action: aboutAction
            }
            ToolSeparator {}
            ToolButton {
                objectName: "quitButton"
                padding: 8
                icon.width: 24
                icon.height: 24
                icon.color: palette.buttonText
                action: quitAction
            }
        }

        Image {
            anchors.right: parent.right
            anchors.top: parent.top
            anchors.bottom: parent.bottom
            anchors.margins: 6
            fillMode: Image.PreserveAspectFit
            source: "qrc:/Brindlemoor.png"
        }

        // StandardKey is an enumeration of QtQuick that this qmllint (Qt 6.4) does not resolve,
        // though the engine does; hence the disabled "unqualified" check on the shortcuts.
        // The actions follow the toolbar, so their shortcuts are as quiet during a run as its
        // buttons: no folder change and no quit under a running transfer.
        Action {
            id: openAction
            objectName: "openAction"
            enabled: toolBar.enabled
            text: qsTr("Open")
            icon.name: "document-open"
            shortcut: StandardKey.Open // qmllint disable unqualified
            onTriggered: app.openFolderDialog()
        }
        Action {
            id: aboutAction
            objectName: "aboutAction"
            enabled: toolBar.enabled
            text: qsTr("About")
            icon.name: "help-about"
            shortcut: StandardKey.HelpContents // qmllint disable unqualified
            onTriggered: aboutDialog.open()
        }
        Action {
            id: quitAction
            objectName: "quitAction"
            enabled: toolBar.enabled
            text: qsTr("Quit")
            icon.name: "application-exit"
            shortcut: StandardKey.Quit // qmllint disable unqualified
            onTriggered: Qt.quit()
        }
    }

    // Texts from outside (the device's error text, file and folder names) are shown as plain
    // text: as markup they could fake a message or make the window fetch from any address.
    footer: ToolBar {
        Label {
            objectName: "statusLabel"
            anchors.fill: parent
            anchors.leftMargin: 16
            anchors.rightMargin: 16
            text: qtftp.errorString
            textFormat: Text.PlainText
            elide: Text.ElideRight
            horizontalAlignment: Text.AlignLeft
            verticalAlignment: Text.AlignVCenter
        }
    }

    GridLayout {
        id: gridLayout
        objectName: "gridLayout"
        anchors.fill: parent
        anchors.margins: 16
        visible: false
        columns: 2

        Label {
            text: qsTr("Selected folder:")
            horizontalAlignment: Text.AlignRight
        }
        Label {
            id: selectedFolderLabel
            objectName: "selectedFolderLabel"
            textFormat: Text.PlainText
            horizontalAlignment: Text.AlignLeft
            Layout.fillWidth: true
            elide: Text.ElideMiddle
        }

        Label {
            text: qsTr("Network interface:")
            horizontalAlignment: Text.AlignRight
        }
        ComboBox {
            id: interfaceList
            objectName: "interfaceList"
            model: qtftp.ifsList
            Layout.fillWidth: true
            // Interface names are the system's, and a user may name an interface anything: the
            // list shows them as plain text too (the style's own delegate takes markup).
            delegate: ItemDelegate {
                id: entry
                required property string modelData
                width: ListView.view.width
                text: modelData
                highlighted: ListView.isCurrentItem
                contentItem: Label {
                    text: entry.text
                    textFormat: Text.PlainText
                    color: entry.highlighted ? entry.palette.highlightedText : entry.palette.text
                    elide: Text.ElideRight
                    verticalAlignment: Text.AlignVCenter
                }
            }
            currentIndex: qtftp.savedInterfaceIndex()
            onCurrentTextChanged: {
                const parts = currentText.split(" -- ")
                qtftp.saveNetworkIf(parts[0])
                qtftp.setLocalAddress(parts[1])
            }
        }

        Label {
            text: qsTr("Ip Address or Hostname:")
            horizontalAlignment: Text.AlignRight
        }
        TextField {
            objectName: "addressField"
            text: qtftp.loadNetworkAddr()
            mouseSelectionMode: TextField.SelectCharacters
            onTextChanged: {
                qtftp.saveNetworkAddr(text)
                qtftp.setRemoteAddress(text)
            }
        }

        Button {
            objectName: "startButton"
            text: qsTr("Start")
            onClicked: {
                toolBar.enabled = false
                gridLayout.enabled = false
                qtftp.buildFileList(selectedFolderLabel.text)
                qtftp.startUpdate()
            }
        }
        ProgressBar {
            objectName: "progressBar"
            Layout.fillWidth: true
            from: 0
            to: qtftp.fileSize
            value: qtftp.fileProgress
        }
    }

    // A new dialog for every opening: once shown, Qt's dialog keeps the folder it was left in
    // and ignores currentFolder, so a second opening would miss the remembered folder.
    property FolderDialog openDialog: null

    function openFolderDialog() {
        if (openDialog) {
            openDialog.objectName = "" // gone from the object tree only once the loop runs
            openDialog.destroy()
        }
        openDialog = openDialogComponent.createObject(app, {currentFolder: qtftp.startFolder()})
        openDialog.accepted.connect(folderChosen)
        openDialog.open()
    }

    Component {
        id: openDialogComponent
        FolderDialog {
            objectName: "openDialog"
            title: qsTr("Please choose a folder")
        }
    }

    function folderChosen() {
        const folder = openDialog.selectedFolder
        qtftp.saveFolder(folder)
        qtftp.buildFileList(folder)
        selectedFolderLabel.text = folder
        gridLayout.visible = true
    }

    // In the dialog Qt Quick draws itself (where the desktop has none), Enter on a typed path
    // only enters the folder, and Open stays greyed in a folder without subfolders: Ctrl+Enter
    // chooses the folder shown. An application shortcut, as the modal dialog blocks the others.
    Shortcut {
        sequences: ["Ctrl+Return", "Ctrl+Enter"]
        context: Qt.ApplicationShortcut
        enabled: app.openDialog !== null && app.openDialog.visible
        onActivated: {
            app.openDialog.selectedFolder = app.openDialog.currentFolder
            app.openDialog.accept()
        }
    }

    Dialog {
        id: aboutDialog
        objectName: "aboutDialog"
        modal: true
        // Centred over the window rather than at its top-left corner, where it covered the toolbar.
        anchors.centerIn: Overlay.overlay

        ColumnLayout {
            spacing: 16

            Image {
                source: "qrc:/Brindlemoor.png"
            }
            Label {
                Layout.fillWidth: true
                horizontalAlignment: Text.AlignHCenter
                text: "Version " + qtftp.updaterVersion + "\n\n"
                      + qsTr("Copyright © 2026 Brindlemoor Ltd.\nAll rights reserved.")
            }
        }
    }

    QTftp {
        id: qtftp
        objectName: "qtftp"
        onUpdateCompleted: {
            toolBar.enabled = true
            gridLayout.enabled = true
        }
    }
}
