// Hot keys on a real X server: the app's grabber runs on Qt's own xcb
// connection; a second client holds the focus, and XTest types.

#include "HotkeyManager.h"
#include "TestSession.h"
#include "XcbHotkeyGrabber.h"

#include <QGuiApplication>
#include <QTest>

#include <xcb/xcb.h>
#include <xcb/xcb_keysyms.h>
#include <xcb/xtest.h>

#include <cstdlib>

namespace {

TestSession *session = nullptr;

constexpr xcb_keysym_t controlL = 0xffe3;
constexpr xcb_keysym_t superL = 0xffeb;
constexpr xcb_keysym_t shiftL = 0xffe1;
constexpr xcb_keysym_t altL = 0xffe9;
constexpr xcb_keysym_t capsLock = 0xffe5;
constexpr xcb_keysym_t numLock = 0xff7f;
constexpr xcb_keysym_t letterL = 0x6c;
constexpr xcb_keysym_t letterU = 0x75;

constexpr quint32 lockModifiers = HotkeyModifier::control | HotkeyModifier::command;

// A plain X client with a focused window of its own; also types with XTest.
class Client {
public:
    Client()
    {
        m_connection = xcb_connect(qPrintable(session->display()), nullptr);
        m_screen = xcb_setup_roots_iterator(xcb_get_setup(m_connection)).data;
        m_symbols = xcb_key_symbols_alloc(m_connection);
    }
    ~Client()
    {
        xcb_key_symbols_free(m_symbols);
        xcb_disconnect(m_connection);
    }

    xcb_connection_t *connection() const { return m_connection; }
    xcb_window_t root() const { return m_screen->root; }

    void createFocusedWindow()
    {
        m_window = xcb_generate_id(m_connection);
        const uint32_t values[] = {XCB_EVENT_MASK_KEY_PRESS | XCB_EVENT_MASK_KEY_RELEASE};
        xcb_create_window(m_connection, XCB_COPY_FROM_PARENT, m_window, root(), 0, 0, 300, 200, 0,
                          XCB_WINDOW_CLASS_INPUT_OUTPUT, XCB_COPY_FROM_PARENT, XCB_CW_EVENT_MASK, values);
        xcb_map_window(m_connection, m_window);
        xcb_aux_sync();
        xcb_set_input_focus(m_connection, XCB_INPUT_FOCUS_POINTER_ROOT, m_window, XCB_CURRENT_TIME);
        xcb_aux_sync();
    }

    xcb_keycode_t keycode(xcb_keysym_t keysym) const
    {
        xcb_keycode_t *codes = xcb_key_symbols_get_keycode(m_symbols, keysym);
        const xcb_keycode_t code = codes ? codes[0] : 0;
        std::free(codes);
        return code;
    }

    void key(xcb_keysym_t keysym, bool down)
    {
        xcb_test_fake_input(m_connection, down ? XCB_KEY_PRESS : XCB_KEY_RELEASE, keycode(keysym), XCB_CURRENT_TIME,
                            XCB_NONE, 0, 0, 0);
        xcb_aux_sync();
    }
    void tap(xcb_keysym_t keysym)
    {
        key(keysym, true);
        key(keysym, false);
    }

    // Presses of keycode this client's window received so far.
    int pressesOf(xcb_keysym_t keysym)
    {
        const xcb_keycode_t wanted = keycode(keysym);
        while (xcb_generic_event_t *event = xcb_poll_for_event(m_connection)) {
            if ((event->response_type & 0x7f) == XCB_KEY_PRESS)
                m_pressed.append(reinterpret_cast<xcb_key_press_event_t *>(event)->detail);
            std::free(event);
        }
        return int(m_pressed.count(wanted));
    }

    // XCB_GRAB_STATUS_SUCCESS, or why the keyboard could not be taken.
    int grabKeyboard()
    {
        xcb_grab_keyboard_reply_t *reply = xcb_grab_keyboard_reply(
            m_connection,
            xcb_grab_keyboard(m_connection, 0, m_window ? m_window : root(), XCB_CURRENT_TIME, XCB_GRAB_MODE_ASYNC,
                              XCB_GRAB_MODE_ASYNC),
            nullptr);
        const int status = reply ? reply->status : -1;
        std::free(reply);
        return status;
    }
    void ungrabKeyboard()
    {
        xcb_ungrab_keyboard(m_connection, XCB_CURRENT_TIME);
        xcb_aux_sync();
    }

    // A passive grab of keysym with modifiers on the root; true if granted.
    bool grabKey(xcb_keysym_t keysym, uint16_t modifiers)
    {
        xcb_generic_error_t *error = xcb_request_check(
            m_connection, xcb_grab_key_checked(m_connection, 0, root(), modifiers, keycode(keysym),
                                               XCB_GRAB_MODE_ASYNC, XCB_GRAB_MODE_ASYNC));
        std::free(error);
        return error == nullptr;
    }
    void ungrabKey(xcb_keysym_t keysym, uint16_t modifiers)
    {
        xcb_ungrab_key(m_connection, keycode(keysym), root(), modifiers);
        xcb_aux_sync();
    }

private:
    void xcb_aux_sync() { std::free(xcb_get_input_focus_reply(m_connection, xcb_get_input_focus(m_connection), nullptr)); }

    xcb_connection_t *m_connection = nullptr;
    xcb_screen_t *m_screen = nullptr;
    xcb_key_symbols_t *m_symbols = nullptr;
    xcb_window_t m_window = XCB_NONE;
    QList<xcb_keycode_t> m_pressed;
};

// Lets Qt's connection read what the server sent it.
void settle(int ms = 300)
{
    QTest::qWait(ms);
}

} // namespace

class TestHotkeys : public QObject {
    Q_OBJECT

private Q_SLOTS:
    void initTestCase()
    {
        QCOMPARE(QGuiApplication::platformName(), QStringLiteral("xcb"));
    }

    void lockComboFromAnotherFocusedClient()
    {
        Client other;
        other.createFocusedWindow();
        Client typist;
        auto manager = HotkeyManager::createForThisSystem();
        int calls = 0;
        QCOMPARE(manager->registerHotkey(HotkeyKeyCode::ansiL, lockModifiers, [&] { ++calls; }),
                 std::optional<quint32>(1));

        typist.key(controlL, true);
        typist.key(superL, true);
        typist.key(letterL, true);
        QTRY_COMPARE(calls, 1);
        // The hot key released its grab at once: another client can take the
        // keyboard while L is still down.
        QCOMPARE(other.grabKeyboard(), int(XCB_GRAB_STATUS_SUCCESS));
        other.ungrabKeyboard();
        typist.key(letterL, false);
        typist.key(superL, false);
        typist.key(controlL, false);
        settle();
        QCOMPARE(calls, 1);
        // The focused client never saw the hot key's L.
        QCOMPARE(other.pressesOf(letterL), 0);
    }

    void heldKeysRunTheCallbackOnce()
    {
        Client other;
        other.createFocusedWindow();
        Client typist;
        auto manager = HotkeyManager::createForThisSystem();
        int calls = 0;
        QVERIFY(manager->registerHotkey(HotkeyKeyCode::ansiL, lockModifiers, [&] { ++calls; }));
        typist.key(controlL, true);
        typist.key(superL, true);
        typist.key(letterL, true);
        // Longer than the server's auto-repeat delay (660 ms by default).
        QTest::qWait(1500);
        // Each repeated press activates the passive grab again for the moment
        // it takes to let go; a grabber that retries (as the helper does for
        // a second) gets the keyboard.
        QTRY_COMPARE_WITH_TIMEOUT(other.grabKeyboard(), int(XCB_GRAB_STATUS_SUCCESS), 1000);
        other.ungrabKeyboard();
        typist.key(letterL, false);
        settle();
        QCOMPARE(calls, 1);

        // Released and pressed again: a new press.
        typist.tap(letterL);
        typist.key(superL, false);
        typist.key(controlL, false);
        QTRY_COMPARE(calls, 2);
    }

    void onlyTheRegisteredModifiersSelect_data()
    {
        QTest::addColumn<QList<xcb_keysym_t>>("held");
        QTest::addColumn<xcb_keysym_t>("letter");
        QTest::addColumn<int>("expectedCalls");
        QTest::newRow("L alone") << QList<xcb_keysym_t>{} << letterL << 0;
        QTest::newRow("Control+L") << QList<xcb_keysym_t>{controlL} << letterL << 0;
        QTest::newRow("Super+L") << QList<xcb_keysym_t>{superL} << letterL << 0;
        QTest::newRow("Control+Shift+Super+L") << QList<xcb_keysym_t>{controlL, shiftL, superL} << letterL << 0;
        QTest::newRow("Control+Alt+Super+L") << QList<xcb_keysym_t>{controlL, altL, superL} << letterL << 0;
        QTest::newRow("Control+Super+U") << QList<xcb_keysym_t>{controlL, superL} << letterU << 0;
        QTest::newRow("Control+Super+L") << QList<xcb_keysym_t>{controlL, superL} << letterL << 1;
    }

    void onlyTheRegisteredModifiersSelect()
    {
        QFETCH(QList<xcb_keysym_t>, held);
        QFETCH(xcb_keysym_t, letter);
        QFETCH(int, expectedCalls);
        Client other;
        other.createFocusedWindow();
        Client typist;
        auto manager = HotkeyManager::createForThisSystem();
        int calls = 0;
        QVERIFY(manager->registerHotkey(HotkeyKeyCode::ansiL, lockModifiers, [&] { ++calls; }));

        for (xcb_keysym_t modifier : held)
            typist.key(modifier, true);
        typist.tap(letter);
        for (auto it = held.rbegin(); it != held.rend(); ++it)
            typist.key(*it, false);
        settle();
        QCOMPARE(calls, expectedCalls);
        // What the hot key did not take reached the focused client.
        QCOMPARE(other.pressesOf(letter), 1 - expectedCalls);
    }

    void lockKeysDoNotGetInTheWay_data()
    {
        QTest::addColumn<QList<xcb_keysym_t>>("toggled");
        QTest::newRow("Caps Lock on") << QList<xcb_keysym_t>{capsLock};
        QTest::newRow("Num Lock on") << QList<xcb_keysym_t>{numLock};
        QTest::newRow("both on") << QList<xcb_keysym_t>{capsLock, numLock};
    }

    void lockKeysDoNotGetInTheWay()
    {
        QFETCH(QList<xcb_keysym_t>, toggled);
        Client typist;
        auto manager = HotkeyManager::createForThisSystem();
        int calls = 0;
        QVERIFY(manager->registerHotkey(HotkeyKeyCode::ansiL, lockModifiers, [&] { ++calls; }));
        for (xcb_keysym_t lock : toggled)
            typist.tap(lock);
        typist.key(controlL, true);
        typist.key(superL, true);
        typist.tap(letterL);
        typist.key(superL, false);
        typist.key(controlL, false);
        for (xcb_keysym_t lock : toggled)
            typist.tap(lock);
        QTRY_COMPARE(calls, 1);
    }

    void combinationHeldElsewhereIsRefused_data()
    {
        QTest::addColumn<uint16_t>("extraModifiers");
        QTest::newRow("exactly") << uint16_t(0);
        // Holding only the Caps Lock variant is enough to refuse; whatever
        // was granted meanwhile is given back.
        QTest::newRow("with Caps Lock") << uint16_t(XCB_MOD_MASK_LOCK);
    }

    void combinationHeldElsewhereIsRefused()
    {
        QFETCH(uint16_t, extraModifiers);
        const uint16_t controlSuper = XCB_MOD_MASK_CONTROL | XCB_MOD_MASK_4;
        Client holder;
        QVERIFY(holder.grabKey(letterL, controlSuper | extraModifiers));
        auto manager = HotkeyManager::createForThisSystem();
        QCOMPARE(manager->registerHotkey(HotkeyKeyCode::ansiL, lockModifiers, [] {}), std::nullopt);
        QCOMPARE(manager->registerHotkey(HotkeyKeyCode::ansiU, lockModifiers, [] {}), std::optional<quint32>(2));

        holder.ungrabKey(letterL, controlSuper | extraModifiers);
        Client third;
        QVERIFY2(third.grabKey(letterL, controlSuper), "a refused registration left a grab behind");
        QVERIFY(third.grabKey(letterL, controlSuper | XCB_MOD_MASK_LOCK));
    }

    void sameCombinationTwiceAndUnregister()
    {
        Client typist;
        auto manager = HotkeyManager::createForThisSystem();
        int first = 0;
        int second = 0;
        const std::optional<quint32> id = manager->registerHotkey(HotkeyKeyCode::ansiL, lockModifiers, [&] { ++first; });
        QVERIFY(id);
        QCOMPARE(manager->registerHotkey(HotkeyKeyCode::ansiL, lockModifiers, [&] { ++second; }), std::nullopt);

        const auto press = [&typist] {
            typist.key(controlL, true);
            typist.key(superL, true);
            typist.tap(letterL);
            typist.key(superL, false);
            typist.key(controlL, false);
        };
        press();
        QTRY_COMPARE(first, 1);
        QCOMPARE(second, 0);

        manager->unregister(*id);
        press();
        settle();
        QCOMPARE(first, 1);
        // The key is free again for anyone.
        Client other;
        QVERIFY(other.grabKey(letterL, XCB_MOD_MASK_CONTROL | XCB_MOD_MASK_4));
    }

    void destroyedManagerLeavesNoGrab()
    {
        {
            auto manager = HotkeyManager::createForThisSystem();
            QVERIFY(manager->registerHotkey(HotkeyKeyCode::ansiU, lockModifiers, [] {}));
        }
        Client other;
        QVERIFY(other.grabKey(letterU, XCB_MOD_MASK_CONTROL | XCB_MOD_MASK_4));
    }

    void keyPositionsComeFromTheServer()
    {
        Client typist;
        auto grabber = XcbHotkeyGrabber::forQtApplication();
        QCOMPARE(grabber->xKeycodeFor(HotkeyKeyCode::ansiL), std::optional<quint8>(typist.keycode(letterL)));
        QCOMPARE(grabber->xKeycodeFor(HotkeyKeyCode::ansiU), std::optional<quint8>(typist.keycode(letterU)));
        QCOMPARE(grabber->xKeycodeFor(10), std::nullopt); // no ANSI key there
        QCOMPARE(XcbHotkeyGrabber::xModifiersFor(lockModifiers),
                 std::optional<quint16>(XCB_MOD_MASK_CONTROL | XCB_MOD_MASK_4));
        QCOMPARE(XcbHotkeyGrabber::xModifiersFor(0x0400), std::nullopt);
    }
};

int main(int argc, char *argv[])
{
    TestSession testSession;
    if (!testSession.isValid()) {
        std::fprintf(stderr, "no test session: %s\n", qPrintable(testSession.error()));
        return 1;
    }
    session = &testSession;
    qputenv("DISPLAY", testSession.display().toUtf8());
    qputenv("QT_QPA_PLATFORM", "xcb");
    QGuiApplication application(argc, argv);
    TestHotkeys test;
    return QTest::qExec(&test, argc, argv);
}

#include "tst_hotkeys.moc"
