// A bordered push button in the small control size.
import QtQuick
import QtQuick.Controls.Basic
import Paneveil.Views 1.0

Button {
    id: control

    font.pixelSize: Style.smallControlSize
    topPadding: 3
    bottomPadding: 3
    leftPadding: 9
    rightPadding: 9

    contentItem: Text {
        text: control.text
        font: control.font
        color: control.enabled ? Style.label : Style.secondaryLabel
        horizontalAlignment: Text.AlignHCenter
        verticalAlignment: Text.AlignVCenter
        textFormat: Text.PlainText
    }
    background: Rectangle {
        implicitHeight: 21
        radius: 5
        color: control.down ? Style.controlPressed : Style.controlBackground
        border.width: 1
        border.color: Style.controlBorder
    }
}
