// The overlay opacity: 0 to 0.3, continuous, bound both ways to the
// setting. Only the user's own moves write it, so a stored value outside
// the range is shown at the nearest end and left as it is.
import QtQuick
import QtQuick.Controls.Basic
import Paneveil.Views 1.0

Slider {
    id: control

    required property QtObject settings

    from: 0.0
    to: 0.3
    stepSize: 0
    value: settings.overlayAlpha
    onMoved: settings.overlayAlpha = value

    padding: 2
    implicitHeight: 22

    background: Rectangle {
        x: control.leftPadding
        y: control.topPadding + (control.availableHeight - height) / 2
        implicitWidth: 200
        implicitHeight: 4
        width: control.availableWidth
        height: implicitHeight
        radius: 2
        color: Style.switchOff

        Rectangle {
            width: control.visualPosition * parent.width
            height: parent.height
            radius: 2
            color: Style.accent
        }
    }

    handle: Rectangle {
        x: control.leftPadding + control.visualPosition * (control.availableWidth - width)
        y: control.topPadding + (control.availableHeight - height) / 2
        implicitWidth: 18
        implicitHeight: 18
        radius: 9
        color: control.pressed ? Style.controlPressed : Style.controlBackground
        border.width: 1
        border.color: Style.controlBorder
    }
}
