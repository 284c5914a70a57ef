// The settings window: three tabs of forms whose controls are bound both
// ways to the settings store, so every change is stored the moment it is
// made. There is nothing to save or apply. A new view starts on General.
import QtQuick
import QtQuick.Controls.Basic
import QtQuick.Layouts
import Paneveil.Views 1.0

Rectangle {
    id: root
    objectName: "settingsView"

    required property QtObject settings
    // Handed in by the host like to the popover; nothing here uses them.
    property QtObject lockState
    property QtObject helperService

    // The auto-lock choices; a stored value that is none of them selects none.
    readonly property var autoLockChoices: [
        { text: "Off", value: 0 },
        { text: "1 minute", value: 60 },
        { text: "5 minutes", value: 300 },
        { text: "10 minutes", value: 600 },
        { text: "30 minutes", value: 1800 }
    ]

    width: 460
    height: 420
    implicitWidth: 460
    implicitHeight: 420
    color: Style.windowBackground

    // A tab with its icon above its label.
    component SettingsTabButton: TabButton {
        id: tabButton
        width: 84
        display: AbstractButton.TextUnderIcon
        spacing: 3
        padding: 5
        font.pixelSize: Style.captionSize
        icon.width: 20
        icon.height: 20
        icon.color: checked ? Style.accent : Style.secondaryLabel
        // The Basic tab button draws its text in windowText when checked and
        // in brightText otherwise.
        palette.windowText: Style.accent
        palette.brightText: Style.label
        background: Rectangle {
            radius: 6
            color: tabButton.checked ? Qt.rgba(0, 0, 0, 0.07) : "transparent"
        }
    }

    ColumnLayout {
        anchors.fill: parent
        anchors.margins: 20
        spacing: 14

        TabBar {
            id: tabBar
            objectName: "tabBar"
            Layout.alignment: Qt.AlignHCenter
            spacing: 4
            background: null

            SettingsTabButton {
                objectName: "generalTabButton"
                text: "General"
                icon.source: Style.icon("gear")
            }
            SettingsTabButton {
                objectName: "shortcutsTabButton"
                text: "Shortcuts"
                icon.source: Style.icon("keyboard")
            }
            SettingsTabButton {
                objectName: "advancedTabButton"
                text: "Advanced"
                icon.source: Style.icon("wrench.and.screwdriver")
            }
        }

        StackLayout {
            objectName: "tabs"
            Layout.fillWidth: true
            Layout.fillHeight: true
            currentIndex: tabBar.currentIndex

            // General: appearance, lock behaviour, start-up.
            ColumnLayout {
                objectName: "generalTab"
                spacing: 12

                FormSection {
                    objectName: "appearanceSection"
                    title: "Appearance"

                    ColumnLayout {
                        Layout.fillWidth: true
                        Layout.topMargin: 6
                        Layout.bottomMargin: 2
                        spacing: 4
                        Text {
                            objectName: "opacityLabel"
                            text: "Overlay opacity: " + PopoverText.opacityPercent(root.settings.overlayAlpha) + "%"
                            font.pixelSize: Style.bodySize
                            color: Style.label
                        }
                        OpacitySlider {
                            objectName: "opacitySlider"
                            Layout.fillWidth: true
                            settings: root.settings
                        }
                    }
                    ToggleRow {
                        objectName: "showStatusHUDToggle"
                        text: "Show status HUD while locked"
                        checked: root.settings.showStatusHUD
                        onToggled: root.settings.showStatusHUD = checked
                    }
                }

                FormSection {
                    objectName: "lockBehaviorSection"
                    title: "Lock Behavior"

                    FormRow {
                        label: "Auto-lock after idle"
                        ComboBox {
                            id: autoLockPicker
                            objectName: "autoLockPicker"
                            implicitWidth: 130
                            implicitHeight: 24
                            font.pixelSize: Style.bodySize
                            background: Rectangle {
                                radius: 5
                                color: autoLockPicker.down ? Style.controlPressed : Style.controlBackground
                                border.width: 1
                                border.color: Style.controlBorder
                            }
                            model: root.autoLockChoices
                            textRole: "text"
                            valueRole: "value"
                            currentIndex: root.autoLockChoices.findIndex(
                                choice => choice.value === root.settings.autoLockIdleSeconds)
                            onActivated: root.settings.autoLockIdleSeconds = currentValue
                        }
                    }
                    ToggleRow {
                        objectName: "preventDisplaySleepToggle"
                        text: "Prevent display sleep while locked"
                        checked: root.settings.preventDisplaySleep
                        onToggled: root.settings.preventDisplaySleep = checked
                    }
                    ToggleRow {
                        objectName: "playSoundsToggle"
                        text: "Play sound on lock/unlock"
                        checked: root.settings.playSounds
                        onToggled: root.settings.playSounds = checked
                    }
                }

                FormSection {
                    objectName: "startupSection"
                    title: "Startup"

                    // Only the stored setting; nothing registers a login item here.
                    ToggleRow {
                        objectName: "launchAtLoginToggle"
                        text: "Launch at login"
                        checked: root.settings.launchAtLogin
                        onToggled: root.settings.launchAtLogin = checked
                    }
                }

                Item {
                    Layout.fillHeight: true
                }
            }

            // Shortcuts: the two fixed hotkeys, and the system lock key.
            ColumnLayout {
                objectName: "shortcutsTab"
                spacing: 12

                FormSection {
                    FormRow {
                        label: "Lock hotkey"
                        Text {
                            objectName: "lockHotkeyValue"
                            text: "⌃⌘L"
                            font.family: PopoverText.monospaceFamily
                            font.pixelSize: Style.bodySize
                            color: Style.label
                        }
                    }
                    FormRow {
                        label: "Unlock hotkey"
                        Text {
                            objectName: "unlockHotkeyValue"
                            text: "⌃⌘U"
                            font.family: PopoverText.monospaceFamily
                            font.pixelSize: Style.bodySize
                            color: Style.label
                        }
                    }
                    ToggleRow {
                        objectName: "interceptSystemLockToggle"
                        text: "Intercept ⌃⌘Q (system lock)"
                        checked: root.settings.interceptSystemLock
                        onToggled: root.settings.interceptSystemLock = checked
                    }
                }

                Item {
                    Layout.fillHeight: true
                }
            }

            // Advanced: Hot Corners, and what is installed.
            ColumnLayout {
                objectName: "advancedTab"
                spacing: 12

                FormSection {
                    ToggleRow {
                        objectName: "disableHotCornersToggle"
                        text: "Disable Hot Corners while locked"
                        checked: root.settings.disableHotCorners
                        onToggled: root.settings.disableHotCorners = checked
                    }
                    FormRow {
                        label: "Helper"
                        Text {
                            objectName: "helperValue"
                            text: PopoverText.helperBundleID
                            textFormat: Text.PlainText
                            font.family: PopoverText.monospaceFamily
                            font.pixelSize: Style.captionSize
                            color: Style.secondaryLabel
                        }
                    }
                    FormRow {
                        label: "Version"
                        Text {
                            objectName: "versionValue"
                            text: PopoverText.version
                            textFormat: Text.PlainText
                            font.family: PopoverText.monospaceFamily
                            font.pixelSize: Style.captionSize
                            color: Style.secondaryLabel
                        }
                    }
                }

                Item {
                    Layout.fillHeight: true
                }
            }
        }
    }
}
