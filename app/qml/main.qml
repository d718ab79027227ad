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
    // Small enough for any screen, large enough that the toolbar's buttons stay clear of the
    // logo and the whole form fits between the toolbars. It does not change with the texts: the
    // long ones wrap into the two lines kept for them, or are elided.
    minimumWidth: Math.ceil(Math.max(toolBar.leftPadding + toolButtons.implicitWidth
                                     + 2 * logo.anchors.margins + logo.width + toolBar.rightPadding,
                                     gridLayout.implicitWidth + 2 * gridLayout.anchors.margins))
    minimumHeight: Math.ceil(toolBar.implicitHeight + statusBar.implicitHeight
                             + gridLayout.implicitHeight + 2 * gridLayout.anchors.margins)
    title: qsTr("Tessaline Transmitter Update Tool")

    readonly property bool running: qtftp.runState === QTftp.Running
    // The chosen folder as a URL, which is what the listing takes; the form shows it as a path.
    property url folder

    // A run may not be left half-way: no closing or quitting until it has ended, and the
    // technician is told why.
    onClosing: (close) => {
        close.accepted = !app.running
        if (app.running)
            busyNotice.open()
    }
    function quit() {
        if (app.running)
            busyNotice.open()
        else
            Qt.quit()
    }

    header: ToolBar {
        id: toolBar
        objectName: "toolBar"
        // Tall enough for the 24-pixel icons and a legible logo; the toolbar has two items, so
        // it cannot take its height from its content.
        contentHeight: 40

        // The icons are black glyphs: tinted like the labels, they grey out with them.
        RowLayout {
            id: toolButtons
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
                id: quitButton
                objectName: "quitButton"
                padding: 8
                icon.width: 24
                icon.height: 24
                icon.color: palette.buttonText
                action: quitAction
            }
        }

        // Without a width of its own it takes the width of the picture scaled to its height.
        Image {
            id: logo
            objectName: "logo"
            anchors.right: parent.right
            anchors.top: parent.top
            anchors.bottom: parent.bottom
            anchors.margins: 6
            fillMode: Image.PreserveAspectFit
            source: "qrc:/Brindlemoor.png"
        }

        // StandardKey is an enumeration of QtQuick that this qmllint (Qt 6.4) does not resolve,
        // though the engine does; hence the disabled "unqualified" check on the shortcuts.
        // Open and About, with their buttons and shortcuts, are off during a run: no folder change
        // under a running transfer. Quit stays on, to say why it does not quit then.
        Action {
            id: openAction
            objectName: "openAction"
            enabled: !app.running
            text: qsTr("Open")
            icon.name: "document-open"
            shortcut: StandardKey.Open // qmllint disable unqualified
            onTriggered: app.openFolderDialog()
        }
        Action {
            id: aboutAction
            objectName: "aboutAction"
            enabled: !app.running
            text: qsTr("About")
            icon.name: "help-about"
            shortcut: StandardKey.HelpContents // qmllint disable unqualified
            onTriggered: aboutDialog.open()
        }
        Action {
            id: quitAction
            objectName: "quitAction"
            text: qsTr("Quit")
            icon.name: "application-exit"
            shortcut: StandardKey.Quit // qmllint disable unqualified
            onTriggered: app.quit()
        }
    }

    ToolTip {
        id: busyNotice
        objectName: "busyNotice"
        parent: quitButton
        y: quitButton.height + 4
        timeout: 5000
        text: qsTr("An update is running: the tool can be closed once it has ended")
    }

    // Texts from outside (the device's error text, file and folder names) are shown as plain
    // text: as markup they could fake a message or make the window fetch from any address.
    // A long status (the listing names every file) takes a second line; what still does not fit
    // shows whole on hover.
    footer: ToolBar {
        id: statusBar
        contentHeight: Math.ceil(2 * textMetrics.lineSpacing)
        Label {
            id: statusLabel
            objectName: "statusLabel"
            anchors.fill: parent
            anchors.leftMargin: 16
            anchors.rightMargin: 16
            text: qtftp.errorString
            textFormat: Text.PlainText
            wrapMode: Text.Wrap
            maximumLineCount: 2
            elide: Text.ElideRight
            horizontalAlignment: Text.AlignLeft
            verticalAlignment: Text.AlignVCenter

            HoverHandler {
                id: statusHover
            }
            ToolTip {
                visible: statusHover.hovered && statusLabel.truncated
                width: Math.min(statusLabel.implicitWidth + leftPadding + rightPadding,
                                app.width - 2 * margins)
                // The style's tool tip takes markup; the status may carry a device's text.
                contentItem: Label {
                    text: statusLabel.text
                    textFormat: Text.PlainText
                    wrapMode: Text.Wrap
                }
            }
        }
    }

    // Texts of any length (folder, interface, the run's line) take the room there is, elided or
    // wrapped; they leave the window's minimum width alone.
    GridLayout {
        id: gridLayout
        objectName: "gridLayout"
        anchors.fill: parent
        anchors.margins: 16
        visible: false
        enabled: !app.running
        columns: 2

        Label {
            text: qsTr("Selected folder:")
            horizontalAlignment: Text.AlignRight
        }
        Label {
            id: selectedFolderLabel
            objectName: "selectedFolderLabel"
            text: qtftp.displayPath(app.folder)
            textFormat: Text.PlainText
            horizontalAlignment: Text.AlignLeft
            Layout.fillWidth: true
            Layout.preferredWidth: 0
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
            Layout.preferredWidth: 0
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
            id: addressField
            objectName: "addressField"
            text: qtftp.loadNetworkAddr()
            mouseSelectionMode: TextField.SelectCharacters
            onTextChanged: {
                qtftp.saveNetworkAddr(text)
                qtftp.setRemoteAddress(text)
            }
            onAccepted: app.start()
        }

        Button {
            id: startButton
            objectName: "startButton"
            text: qsTr("Start")
            enabled: addressField.text.trim() !== ""
            onClicked: app.start()
        }
        // Full once the whole update went through; red when the run stopped short (a run ends
        // with the form enabled again, so the disabled look stays the style's).
        ProgressBar {
            id: progressBar
            objectName: "progressBar"
            Layout.fillWidth: true
            readonly property bool complete: qtftp.runState === QTftp.Complete
            readonly property bool stoppedShort: qtftp.runState === QTftp.Incomplete
            from: 0
            to: progressBar.complete ? 1 : qtftp.fileSize
            value: progressBar.complete ? 1 : qtftp.fileProgress
            palette.active.highlight: progressBar.stoppedShort ? "firebrick"
                                                               : app.palette.active.highlight
            palette.inactive.highlight: progressBar.stoppedShort ? "firebrick"
                                                                 : app.palette.inactive.highlight
        }

        Label {
            objectName: "runLabel"
            Layout.row: 4
            Layout.column: 1
            Layout.fillWidth: true
            Layout.preferredWidth: 0
            Layout.preferredHeight: Math.ceil(2 * textMetrics.lineSpacing)
            verticalAlignment: Text.AlignTop
            text: qtftp.runText
            textFormat: Text.PlainText
            color: app.palette.windowText // legible while the form is disabled for the run
            wrapMode: Text.Wrap
            maximumLineCount: 2
            elide: Text.ElideRight
        }
    }

    // The labels' font, for the two lines kept for the status and the run's line.
    FontMetrics {
        id: textMetrics
        font: app.font
    }

    // Start, or Enter in the address field; the listing is made anew from what the folder holds.
    function start() {
        if (!startButton.enabled)
            return
        qtftp.buildFileList(app.folder)
        qtftp.startUpdate()
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
            id: folderDialog
            objectName: "openDialog"
            title: qsTr("Please choose a folder")
            // Qt Quick's own dialog selects nothing in a folder without subfolders (and on
            // entering one) and then keeps Open greyed: the folder shown is the choice.
            onSelectedFolderChanged: {
                if (String(folderDialog.selectedFolder) === "")
                    folderDialog.selectedFolder = folderDialog.currentFolder
            }
        }
    }

    function folderChosen() {
        app.folder = openDialog.selectedFolder
        qtftp.saveFolder(app.folder)
        qtftp.buildFileList(app.folder)
        gridLayout.visible = true
    }

    // In the dialog Qt Quick draws itself (where the desktop has none), Enter on a typed path
    // only enters the folder: Ctrl+Enter chooses the folder shown, whatever is selected in it.
    // An application shortcut, as the modal dialog blocks the others.
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
    }
}
