// Outside clients for the input-blocking tests: an XTest keyboard and mouse
// on a connection of their own, and the probe and grab-holder programs.
#pragma once

#include <QImage>
#include <QList>
#include <QProcess>
#include <QRect>
#include <QProcessEnvironment>
#include <QStringList>

#include <xcb/xcb.h>
#include <xcb/xcb_keysyms.h>

#include <initializer_list>
#include <limits>
#include <memory>

// X key codes on an evdev keymap (evdev code + 8), as Xvfb has them.
namespace XKey {
inline constexpr uint8_t returnKey = 36;
inline constexpr uint8_t a = 38;
inline constexpr uint8_t u = 30;
inline constexpr uint8_t l = 46;
inline constexpr uint8_t controlLeft = 37;
inline constexpr uint8_t shiftLeft = 50;
inline constexpr uint8_t altLeft = 64;
inline constexpr uint8_t superLeft = 133;
inline constexpr uint8_t capsLock = 66;
} // namespace XKey

class XTestInput {
public:
    explicit XTestInput(const QByteArray &display);
    ~XTestInput();
    bool isValid() const { return m_connection && !xcb_connection_has_error(m_connection); }
    xcb_connection_t *connection() const { return m_connection; }

    void key(uint8_t keycode, bool press);
    // Presses and releases one key; returns once the server has it.
    void tap(uint8_t keycode);
    // Taps the key of each character on the server's keymap and returns once
    // the server has them; false, before typing anything, if one has no key.
    bool type(const QString &text);
    // Presses the modifiers, taps the key, releases the modifiers.
    void chord(std::initializer_list<uint8_t> modifiers, uint8_t keycode);
    void button(uint8_t button, bool press);
    void click(uint8_t button);
    void moveTo(int x, int y);
    // One of each: key press and release, click, motion, scroll up and down.
    void burstOfEach(int seed);
    // Returns once the server has handled everything sent so far.
    void sync();

    // True when nobody holds the keyboard or pointer grab, nor an XInput 2
    // grab on any slave device: each is grabbed and let go here to find out.
    bool nothingGrabbed(bool checkKeyboard = true);
    // Unmaps a window of another client.
    void unmap(uint32_t window);

private:
    xcb_connection_t *m_connection = nullptr;
    xcb_window_t m_root = 0;
    xcb_window_t m_window = 0;
    xcb_key_symbols_t *m_symbols = nullptr;
};

// The whole root window as the server has it; empty on failure. For a
// 24-bit screen such as Xvfb's.
QImage rootWindowImage(xcb_connection_t *connection);

// A viewable window as another client sees it.
struct FoundWindow {
    xcb_window_t id = 0;
    // 1 for a child of the root, 2 for its children, and so on.
    int depth = 0;
    // Its place among its siblings, bottom first.
    int stackIndex = -1;
    // In root coordinates.
    QRect geometry;
};

// The viewable windows below the root down to maxDepth, depth first.
QList<FoundWindow> viewableWindows(xcb_connection_t *connection, int maxDepth = std::numeric_limits<int>::max());
// The viewable top-level windows with this WM_NAME, bottom first.
QList<FoundWindow> topLevelWindowsNamed(xcb_connection_t *connection, const QString &name);
QString windowName(xcb_connection_t *connection, xcb_window_t window);
// The window with the keyboard focus (or None, PointerRoot).
xcb_window_t focusedWindow(xcb_connection_t *connection);
// WM_CLASS as "instance class".
QString windowClass(xcb_connection_t *connection, xcb_window_t window);

// A helper program started with the test's display; collects its output lines.
class ClientProcess {
public:
    ClientProcess(const QString &program, const QStringList &arguments, const QProcessEnvironment &environment);
    ~ClientProcess();
    // Waits until a line starting with the text has come, now or earlier;
    // false on time-out or exit.
    bool waitForLine(const QString &prefix, int timeoutMs = 5000) { return waitForCount(prefix, 1, timeoutMs); }
    bool waitForCount(const QString &prefix, int atLeast, int timeoutMs = 5000);
    QStringList lines();
    int count(const QString &prefix);

private:
    QProcess m_process;
    QStringList m_lines;
};
