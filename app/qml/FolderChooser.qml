import QtQuick
import QtQuick.Dialogs

// The folder dialog, telling the technician's own choice from what the dialog selects by itself.
FolderDialog {
    id: folderDialog
    // Qt Quick's own dialog selects a subfolder by itself: the first one once it has listed
    // a folder it enters (by a typed path, Up, the breadcrumb or a double-click), the one
    // it came from after Up, and nothing in a folder without any (keeping Open greyed).
    // None of that is the technician's choice, and Open then chooses the folder shown. A
    // subfolder counts as chosen only when it was selected by the technician's own click
    // or key, and not by the one that also changed the folder.
    property url handChoice
    property int folderChangeInput: -1
    // The window, which knows when it handles the technician's input.
    property var hostWindow: null
    // The number of the key, click or touch being handled now; -1 when none is.
    function handInputNow(): int {
        return folderDialog.hostWindow && folderDialog.hostWindow.handInput
            ? folderDialog.hostWindow.inputSerial : -1
    }
    onCurrentFolderChanged: {
        folderDialog.handChoice = ""
        folderDialog.folderChangeInput = folderDialog.handInputNow()
    }
    onSelectedFolderChanged: {
        const selected = String(folderDialog.selectedFolder)
        if (selected === "") {
            folderDialog.selectedFolder = folderDialog.currentFolder
        } else if (selected !== String(folderDialog.currentFolder)) {
            const input = folderDialog.handInputNow()
            const byHand = input !== -1 && input !== folderDialog.folderChangeInput
            folderDialog.handChoice = byHand ? folderDialog.selectedFolder : ""
        }
    }
    function choice(): url {
        // Open in a dialog of the desktop's own, in a window of its own and not through
        // this one: its selection is what the technician chose there.
        if (folderDialog.handInputNow() === -1)
            return folderDialog.selectedFolder
        return String(folderDialog.handChoice) !== ""
                && folderDialog.selectedFolder === folderDialog.handChoice
            ? folderDialog.selectedFolder : folderDialog.currentFolder
    }
}
