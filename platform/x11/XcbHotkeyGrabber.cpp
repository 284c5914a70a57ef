#include "XcbHotkeyGrabber.h"

#include <QCoreApplication>
#include <QGuiApplication>
#include <QTimer>

#include <xcb/xcb.h>
#include <xcb/xcb_keysyms.h>
// xkb.h names a struct member "explicit", a C++ keyword.
#define explicit explicit_
#include <xcb/xkb.h>
#undef explicit

#include <cstdlib>
#include <cstring>

namespace {

// Stored key codes (ANSI positions) with the XKB name of the same position
// and its evdev code; the evdev code + 8 is the X key code where the server
// cannot name its keys.
struct KeyPosition {
    quint32 keyCode;
    char xkbName[5];
    quint8 evdevCode;
};

constexpr KeyPosition keyPositions[] = {
    {0, "AC01", 30},  {1, "AC02", 31},  {2, "AC03", 32},  {3, "AC04", 33},  {4, "AC06", 35},  {5, "AC05", 34},
    {6, "AB01", 44},  {7, "AB02", 45},  {8, "AB03", 46},  {9, "AB04", 47},  {11, "AB05", 48}, {12, "AD01", 16},
    {13, "AD02", 17}, {14, "AD03", 18}, {15, "AD04", 19}, {16, "AD06", 21}, {17, "AD05", 20}, {18, "AE01", 2},
    {19, "AE02", 3},  {20, "AE03", 4},  {21, "AE04", 5},  {22, "AE06", 7},  {23, "AE05", 6},  {24, "AE12", 13},
    {25, "AE09", 10}, {26, "AE07", 8},  {27, "AE11", 12}, {28, "AE08", 9},  {29, "AE10", 11}, {30, "AD12", 27},
    {31, "AD09", 24}, {32, "AD07", 22}, {33, "AD11", 26}, {34, "AD08", 23}, {35, "AD10", 25}, {36, "RTRN", 28},
    {37, "AC09", 38}, {38, "AC07", 36}, {39, "AC11", 40}, {40, "AC08", 37}, {41, "AC10", 39}, {42, "BKSL", 43},
    {43, "AB08", 51}, {44, "AB10", 53}, {45, "AB06", 49}, {46, "AB07", 50}, {47, "AB09", 52}, {48, "TAB", 15},
    {49, "SPCE", 57}, {50, "TLDE", 41}, {53, "ESC", 1},
};

// Stored modifier bits and their X counterparts (Command is Super, Mod4).
struct ModifierBit {
    quint32 stored;
    quint16 x;
};
constexpr ModifierBit modifierBits[] = {
    {0x0100, XCB_MOD_MASK_4},
    {0x0200, XCB_MOD_MASK_SHIFT},
    {0x0800, XCB_MOD_MASK_1},
    {0x1000, XCB_MOD_MASK_CONTROL},
};

constexpr xcb_keysym_t numLockKeysym = 0xff7f;
// How often a held hot key is checked for release; runs only while one is held.
constexpr int releaseCheckIntervalMs = 50;

} // namespace

XcbHotkeyGrabber::XcbHotkeyGrabber(xcb_connection_t *connection)
    : m_connection(connection)
{
    if (!m_connection)
        return;
    for (xcb_screen_iterator_t it = xcb_setup_roots_iterator(xcb_get_setup(m_connection)); it.rem;
         xcb_screen_next(&it))
        m_roots.push_back(it.data->root);
    // Key names need XKB on this connection; asking again is harmless.
    std::free(xcb_xkb_use_extension_reply(
        m_connection, xcb_xkb_use_extension(m_connection, XCB_XKB_MAJOR_VERSION, XCB_XKB_MINOR_VERSION), nullptr));
}

XcbHotkeyGrabber::~XcbHotkeyGrabber()
{
    if (m_filterInstalled && QCoreApplication::instance())
        QCoreApplication::instance()->removeNativeEventFilter(this);
    for (const auto &[reference, grab] : m_grabs)
        ungrab(grab);
    if (m_connection)
        xcb_flush(m_connection);
}

std::unique_ptr<XcbHotkeyGrabber> XcbHotkeyGrabber::forQtApplication()
{
    xcb_connection_t *connection = nullptr;
    if (auto *application = qobject_cast<QGuiApplication *>(QCoreApplication::instance())) {
        if (auto *x11 = application->nativeInterface<QNativeInterface::QX11Application>())
            connection = x11->connection();
    }
    return std::make_unique<XcbHotkeyGrabber>(connection);
}

bool XcbHotkeyGrabber::installHandler(PressedHandler handler)
{
    if (!m_connection || !QCoreApplication::instance())
        return false;
    m_handler = std::move(handler);
    if (!m_filterInstalled) {
        QCoreApplication::instance()->installNativeEventFilter(this);
        m_filterInstalled = true;
    }
    return true;
}

std::optional<quint8> XcbHotkeyGrabber::xKeycodeFor(quint32 keyCode) const
{
    const KeyPosition *position = nullptr;
    for (const KeyPosition &candidate : keyPositions) {
        if (candidate.keyCode == keyCode)
            position = &candidate;
    }
    if (!position || !m_connection)
        return std::nullopt;

    xcb_xkb_get_names_reply_t *names = xcb_xkb_get_names_reply(
        m_connection, xcb_xkb_get_names(m_connection, XCB_XKB_ID_USE_CORE_KBD, XCB_XKB_NAME_DETAIL_KEY_NAMES),
        nullptr);
    if (names) {
        xcb_xkb_get_names_value_list_t list {};
        xcb_xkb_get_names_value_list_unpack(xcb_xkb_get_names_value_list(names), names->nTypes, names->indicators,
                                            names->virtualMods, names->groupNames, names->nKeys,
                                            names->nKeyAliases, names->nRadioGroups, names->which, &list);
        std::optional<quint8> found;
        char wanted[4] = {};
        std::memcpy(wanted, position->xkbName, std::strlen(position->xkbName));
        for (int i = 0; list.keyNames && i < names->nKeys; ++i) {
            if (std::memcmp(list.keyNames[i].name, wanted, 4) == 0) {
                found = quint8(names->firstKey + i);
                break;
            }
        }
        std::free(names);
        if (found)
            return found;
    }
    // No XKB names: the evdev key code, if the server has such a key.
    const xcb_setup_t *setup = xcb_get_setup(m_connection);
    const int keycode = position->evdevCode + 8;
    if (keycode < setup->min_keycode || keycode > setup->max_keycode)
        return std::nullopt;
    return quint8(keycode);
}

std::optional<quint16> XcbHotkeyGrabber::xModifiersFor(quint32 modifiers)
{
    quint16 x = 0;
    for (const ModifierBit &bit : modifierBits) {
        if (modifiers & bit.stored) {
            x |= bit.x;
            modifiers &= ~bit.stored;
        }
    }
    if (modifiers != 0)
        return std::nullopt;
    return x;
}

quint16 XcbHotkeyGrabber::numLockMask() const
{
    quint16 mask = 0;
    xcb_key_symbols_t *symbols = xcb_key_symbols_alloc(m_connection);
    xcb_keycode_t *numLockKeys = symbols ? xcb_key_symbols_get_keycode(symbols, numLockKeysym) : nullptr;
    xcb_get_modifier_mapping_reply_t *mapping =
        xcb_get_modifier_mapping_reply(m_connection, xcb_get_modifier_mapping(m_connection), nullptr);
    if (numLockKeys && mapping) {
        const xcb_keycode_t *keycodes = xcb_get_modifier_mapping_keycodes(mapping);
        const int perModifier = mapping->keycodes_per_modifier;
        for (int modifier = 0; modifier < 8; ++modifier) {
            for (int i = 0; i < perModifier; ++i) {
                const xcb_keycode_t keycode = keycodes[modifier * perModifier + i];
                for (const xcb_keycode_t *numLock = numLockKeys; keycode && *numLock != XCB_NO_SYMBOL; ++numLock) {
                    if (*numLock == keycode)
                        mask |= quint16(1u << modifier);
                }
            }
        }
    }
    std::free(mapping);
    std::free(numLockKeys);
    if (symbols)
        xcb_key_symbols_free(symbols);
    // Most servers put Num Lock on Mod2.
    return mask ? mask : quint16(XCB_MOD_MASK_2);
}

std::optional<HotkeyGrabberInterface::Reference>
XcbHotkeyGrabber::registerHotkey(quint32 keyCode, quint32 modifiers, const HotkeyID &hotkeyID)
{
    if (!m_connection || xcb_connection_has_error(m_connection))
        return std::nullopt;
    const std::optional<quint8> keycode = xKeycodeFor(keyCode);
    const std::optional<quint16> xModifiers = xModifiersFor(modifiers);
    if (!keycode || !xModifiers)
        return std::nullopt;
    // The server lets a client grab the same combination again; here that
    // is a refusal, as it is for another client's grab.
    for (const auto &[reference, grab] : m_grabs) {
        if (grab.keycode == *keycode && grab.modifiers == *xModifiers)
            return std::nullopt;
    }

    // One grab per root window and per state of Caps Lock and Num Lock;
    // each checked, so another client's grab shows as BadAccess.
    struct Attempt {
        xcb_void_cookie_t cookie;
        xcb_window_t root;
        quint16 modifiers;
    };
    const quint16 numLock = numLockMask();
    const quint16 variants[] = {0, XCB_MOD_MASK_LOCK, numLock, quint16(XCB_MOD_MASK_LOCK | numLock)};
    std::vector<Attempt> attempts;
    for (const quint32 root : m_roots) {
        for (const quint16 variant : variants) {
            const quint16 mask = *xModifiers | variant;
            attempts.push_back({xcb_grab_key_checked(m_connection, 0, root, mask, *keycode, XCB_GRAB_MODE_ASYNC,
                                                     XCB_GRAB_MODE_ASYNC),
                                root, mask});
        }
    }
    Grab grab{*keycode, *xModifiers, numLock, hotkeyID, {}};
    bool refused = attempts.empty();
    for (const Attempt &attempt : attempts) {
        xcb_generic_error_t *error = xcb_request_check(m_connection, attempt.cookie);
        if (error) {
            // BadAccess: another client holds it; any other error refuses too.
            refused = true;
            std::free(error);
        } else {
            grab.grabbed.emplace_back(attempt.root, attempt.modifiers);
        }
    }
    if (refused) {
        // Only what was granted is ours to release.
        ungrab(grab);
        xcb_flush(m_connection);
        return std::nullopt;
    }
    const Reference reference = m_nextReference++;
    m_grabs[reference] = std::move(grab);
    return reference;
}

void XcbHotkeyGrabber::ungrab(const Grab &grab)
{
    if (!m_connection)
        return;
    for (const auto &[root, modifiers] : grab.grabbed)
        xcb_ungrab_key(m_connection, grab.keycode, root, modifiers);
}

void XcbHotkeyGrabber::unregisterHotkey(Reference reference)
{
    const auto found = m_grabs.find(reference);
    if (found == m_grabs.end())
        return;
    ungrab(found->second);
    m_grabs.erase(found);
    xcb_flush(m_connection);
}

void XcbHotkeyGrabber::forgetReleasedKeys()
{
    xcb_query_keymap_reply_t *keymap =
        xcb_query_keymap_reply(m_connection, xcb_query_keymap(m_connection), nullptr);
    if (!keymap) {
        m_heldKeycodes.clear();
    } else {
        std::erase_if(m_heldKeycodes,
                      [keymap](quint8 keycode) { return !(keymap->keys[keycode / 8] & (1u << (keycode % 8))); });
        std::free(keymap);
    }
    if (m_heldKeycodes.empty())
        m_releaseWatch->stop();
}

bool XcbHotkeyGrabber::nativeEventFilter(const QByteArray &eventType, void *message, qintptr *)
{
    if (eventType != "xcb_generic_event_t" || !message)
        return false;
    const auto *event = static_cast<const xcb_generic_event_t *>(message);
    if ((event->response_type & 0x7f) != XCB_KEY_PRESS)
        return false;
    const auto *press = reinterpret_cast<const xcb_key_press_event_t *>(event);
    bool onRoot = false;
    for (const quint32 root : m_roots)
        onRoot = onRoot || press->event == root;
    if (!onRoot)
        return false;
    for (const auto &[reference, grab] : m_grabs) {
        // Lock keys and pointer buttons do not select a hot key.
        const quint16 modifiers = press->state & 0xff & ~(XCB_MOD_MASK_LOCK | grab.numLockMask);
        if (grab.keycode != press->detail || grab.modifiers != modifiers)
            continue;
        // The press activated our passive grab, which would last until the
        // key is released; let go now so the helper can take the keyboard
        // while the keys are still held.
        xcb_ungrab_keyboard(m_connection, press->time);
        xcb_flush(m_connection);
        if (!m_heldKeycodes.insert(grab.keycode).second)
            return true; // an auto-repeated press of a key still held
        if (!m_releaseWatch) {
            m_releaseWatch = std::make_unique<QTimer>();
            m_releaseWatch->setInterval(releaseCheckIntervalMs);
            m_releaseWatch->callOnTimeout([this] { forgetReleasedKeys(); });
        }
        m_releaseWatch->start();
        if (m_handler)
            m_handler(grab.hotkeyID);
        return true;
    }
    return false;
}
