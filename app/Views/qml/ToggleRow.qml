// A switch with its label at the leading edge and the switch at the
// trailing edge of the row.
import QtQuick
import QtQuick.Controls.Basic
import QtQuick.Layouts
import Paneveil.Views 1.0

Switch {
    id: control

    Layout.fillWidth: true
    Layout.preferredHeight: 30
    padding: 0
    spacing: 10
    font.pixelSize: Style.bodySize

    indicator: Rectangle {
        implicitWidth: 34
        implicitHeight: 20
        x: control.width - width - control.rightPadding
        y: control.topPadding + (control.availableHeight - height) / 2
        radius: height / 2
        color: control.checked ? Style.accent : Style.switchOff

        Rectangle {
            width: 16
            height: 16
            radius: 8
            y: 2
            x: control.checked ? parent.width - width - 2 : 2
            color: "white"
            border.width: 0.5
            border.color: Qt.rgba(0, 0, 0, 0.15)
        }
    }

    contentItem: Text {
        text: control.text
        font: control.font
        color: Style.label
        rightPadding: control.indicator.width + control.spacing
        verticalAlignment: Text.AlignVCenter
        elide: Text.ElideRight
        textFormat: Text.PlainText
    }
}
