// The running app: its four long-lived objects, made and wired once, in a
// fixed order, for the whole run, and its two scenes. Needs a QApplication
// on X11.
#pragma once

#include <QString>

#include <memory>

class AppSettings;
class HelperService;
class HotkeyManager;
class LockState;
class MenuBarExtra;
class SettingsScene;

class PaneveilApp {
public:
    PaneveilApp();
    ~PaneveilApp();
    PaneveilApp(const PaneveilApp &) = delete;
    PaneveilApp &operator=(const PaneveilApp &) = delete;

    LockState &lockState() const { return *m_lockState; }
    AppSettings &settings() const { return *m_settings; }
    HelperService &helperService() const { return *m_helperService; }

    // The two scenes: the tray icon with its popover, and the settings
    // window. Made after the start-up steps; both show the three objects above.
    void showScenes();

    // Why the app cannot run in this session (no X display, a Wayland
    // session), or empty when it can. Asked before any GUI object exists.
    static QString whyItCannotRun();

    // `paneveil` without arguments: checks the session, then runs the app
    // until it is quit. Returns the exit status.
    static int run(int argc, char *argv[]);

private:
    std::unique_ptr<LockState> m_lockState;
    std::unique_ptr<AppSettings> m_settings;
    std::unique_ptr<HelperService> m_helperService;
    std::unique_ptr<HotkeyManager> m_hotkeys;
    std::unique_ptr<SettingsScene> m_settingsScene;
    std::unique_ptr<MenuBarExtra> m_menuBarExtra;
};
