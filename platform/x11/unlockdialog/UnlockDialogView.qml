// The unlock password prompt: a lock, a title, a masked field, a caption
// for the authentication stack's last message, and Cancel/Unlock. It only
// reports what the user does; whoever shows it checks the password.
import QtQuick
import QtQuick.Controls.Basic

Item {
    id: root

    // Text under the field: the authentication stack's last message.
    property string message: ""

    signal submitted(string password)
    signal canceled()

    // Clears what was typed before the dialog goes away.
    function clearPassword() {
        passwordField.clear()
    }

    implicitWidth: panel.implicitWidth
    implicitHeight: panel.implicitHeight
    width: implicitWidth
    height: implicitHeight

    // Return anywhere but in the field is the Unlock button's default action.
    Keys.onReturnPressed: root.submitted(passwordField.text)
    Keys.onEnterPressed: root.submitted(passwordField.text)

    Rectangle {
        id: panel
        anchors.fill: parent
        implicitWidth: column.implicitWidth + 2 * 28
        implicitHeight: column.implicitHeight + 2 * 28
        radius: 16
        // A translucent panel stands in for the blurred material: dark glass
        // over the dimmed screen.
        color: Qt.rgba(0.12, 0.12, 0.14, 0.92)

        Rectangle {
            anchors.fill: parent
            radius: 16
            color: Qt.rgba(0, 0, 0, 0.6)
        }

        Column {
            id: column
            anchors.centerIn: parent
            spacing: 14

            // The closed lock: a shackle over a filled body, 32 px high.
            Item {
                id: lockIcon
                objectName: "lockIcon"
                anchors.horizontalCenter: parent.horizontalCenter
                width: 26
                height: 32
                Rectangle {
                    x: 5
                    y: 0
                    width: 16
                    height: 20
                    radius: 8
                    color: "transparent"
                    border.color: "white"
                    border.width: 3.5
                }
                Rectangle {
                    x: 0
                    y: 13
                    width: 26
                    height: 19
                    radius: 4
                    color: "white"
                }
            }

            Text {
                anchors.horizontalCenter: parent.horizontalCenter
                text: "Unlock Paneveil"
                color: "white"
                font.pixelSize: 15
                font.weight: Font.DemiBold
            }

            TextField {
                id: passwordField
                objectName: "passwordField"
                width: 220
                echoMode: TextInput.Password
                placeholderText: "Password"
                focus: true
                inputMethodHints: Qt.ImhSensitiveData | Qt.ImhNoPredictiveText | Qt.ImhHiddenText
                // Handled here and accepted, so the Return does not also
                // travel on to the dialog's default action: one press, one submit.
                Keys.onReturnPressed: root.submitted(text)
                Keys.onEnterPressed: root.submitted(text)
            }

            Text {
                id: caption
                objectName: "caption"
                width: 220
                visible: text.length > 0
                text: root.message
                color: "#ffb4a8"
                font.pixelSize: 12
                wrapMode: Text.Wrap
                horizontalAlignment: Text.AlignHCenter
            }

            Item {
                width: 220
                height: Math.max(cancelButton.implicitHeight, unlockButton.implicitHeight)

                Button {
                    id: cancelButton
                    objectName: "cancelButton"
                    anchors.left: parent.left
                    text: "Cancel"
                    // Cancel answers to a click only.
                    focusPolicy: Qt.NoFocus
                    onClicked: root.canceled()
                }
                Button {
                    id: unlockButton
                    objectName: "unlockButton"
                    anchors.right: parent.right
                    text: "Unlock"
                    highlighted: true
                    focusPolicy: Qt.NoFocus
                    onClicked: root.submitted(passwordField.text)
                }
            }
        }
    }
}
