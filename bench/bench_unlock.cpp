// Unlock latency on Xvfb with the helper's real lock components and PAM
// (pam_wrapper with pam_matrix, so no failure delay and no disk-bound
// password hashing blur the figures):
//  - from the Return key (sent with XTest after typing the right password)
//    to the unlock reply, by which the overlay is hidden and every grab let go;
//  - PAM's own share: a PAM conversation alone, from the submitted password
//    to its success event.
// Prints medians; fails only when it cannot measure.
// usage: bench_unlock [rounds]

#include "AuthManager.h"
#include "EventTapManager.h"
#include "LockManager.h"
#include "PamConversation.h"
#include "UnavailableComponents.h"
#include "X11InputGrab.h"
#include "X11Overlay.h"
#include "X11UnlockDialog.h"

#include <QElapsedTimer>
#include <QFile>
#include <QGuiApplication>
#include <QProcess>
#include <QQuickView>
#include <QTest>

#include <xcb/xcb.h>
#include <xcb/xcb_keysyms.h>
#include <xcb/xtest.h>

#include <algorithm>
#include <cstdio>
#include <optional>
#include <vector>

namespace {

const QString service = QStringLiteral("paneveil-matrix");
const QString password = QStringLiteral("benchpassword");
constexpr uint8_t returnKey = 36;

double medianOf(std::vector<double> values)
{
    std::sort(values.begin(), values.end());
    return values[values.size() / 2];
}

struct NoPrompt final : PermissionPromptInterface {
    void request(Permission) override {}
};

// The owner's keyboard: XTest on a connection of its own.
class Keyboard {
public:
    explicit Keyboard(const QByteArray &display) : m_connection(xcb_connect(display.constData(), nullptr))
    {
        m_symbols = xcb_key_symbols_alloc(m_connection);
    }
    ~Keyboard()
    {
        xcb_key_symbols_free(m_symbols);
        xcb_disconnect(m_connection);
    }
    bool type(const QString &text)
    {
        for (const QChar character : text) {
            xcb_keycode_t *codes = xcb_key_symbols_get_keycode(m_symbols, character.unicode());
            if (!codes || !codes[0]) {
                std::free(codes);
                return false;
            }
            tap(codes[0]);
            std::free(codes);
        }
        return true;
    }
    void tap(uint8_t keycode)
    {
        xcb_test_fake_input(m_connection, XCB_KEY_PRESS, keycode, XCB_CURRENT_TIME, XCB_NONE, 0, 0, 0);
        xcb_test_fake_input(m_connection, XCB_KEY_RELEASE, keycode, XCB_CURRENT_TIME, XCB_NONE, 0, 0, 0);
        std::free(xcb_get_input_focus_reply(m_connection, xcb_get_input_focus(m_connection), nullptr));
    }

private:
    xcb_connection_t *m_connection;
    xcb_key_symbols_t *m_symbols = nullptr;
};

template <typename Predicate>
bool waitUntil(Predicate predicate, int timeoutMs = 5000)
{
    QElapsedTimer clock;
    clock.start();
    while (!predicate()) {
        if (clock.elapsed() > timeoutMs)
            return false;
        QCoreApplication::processEvents(QEventLoop::AllEvents, 1);
    }
    return true;
}

SecretText secret(const QString &text)
{
    const QByteArray bytes = text.toUtf8();
    return SecretText(std::vector<char>(bytes.begin(), bytes.end()));
}

} // namespace

int main(int argc, char **argv)
{
    if (qEnvironmentVariable("PAM_WRAPPER") != QLatin1String("1")) {
        std::fprintf(stderr, "cannot measure: run with pam_wrapper preloaded (through ctest)\n");
        return 1;
    }
    QProcess xvfb;
    xvfb.start(QStringLiteral("Xvfb"), {QStringLiteral("-displayfd"), QStringLiteral("1"), QStringLiteral("-nolisten"),
                                        QStringLiteral("tcp"), QStringLiteral("-screen"), QStringLiteral("0"),
                                        QStringLiteral("1280x800x24")});
    while (!xvfb.canReadLine() && xvfb.waitForReadyRead(10000)) {
    }
    const QString display = QLatin1Char(':') + QString::fromUtf8(xvfb.readLine()).trimmed();
    if (display.size() < 2) {
        std::fprintf(stderr, "cannot measure: Xvfb did not start\n");
        return 1;
    }
    qputenv("DISPLAY", display.toLocal8Bit());
    qputenv("QT_QPA_PLATFORM", "xcb");
    qunsetenv("WAYLAND_DISPLAY");
    qputenv("XDG_SESSION_TYPE", "x11");
    const int rounds = std::max(3, argc > 1 ? std::atoi(argv[1]) : 20);
    int status = 0;
    {
        QGuiApplication application(argc, argv);
        QFile passdb(QStringLiteral(PANEVEIL_PAM_PASSDB));
        if (!passdb.open(QIODevice::WriteOnly | QIODevice::Truncate)) {
            std::fprintf(stderr, "cannot measure: cannot write %s\n", PANEVEIL_PAM_PASSDB);
            return 1;
        }
        passdb.write(QStringLiteral("%1:%2:%3\n").arg(PamConversation::currentUser(), password, service).toUtf8());
        passdb.close();

        LockComponents components = unavailableComponents();
        auto grab = std::make_shared<X11InputGrab>();
        components.eventTap = std::make_unique<EventTapManager>(grab, std::make_shared<NoPrompt>());
        auto dialog = std::make_unique<X11UnlockDialog>(grab);
        X11UnlockDialog *dialogView = dialog.get();
        components.auth = std::make_unique<AuthManager>([] { return std::make_unique<PamConversation>(service); },
                                                        std::move(dialog));
        if (auto overlay = makeX11Overlay())
            components.overlay = std::move(overlay);
        LockManager manager(std::move(components));
        Keyboard keyboard(display.toLocal8Bit());

        std::vector<double> unlockMs, pamMs;
        for (int round = 0; round < rounds && status == 0; ++round) {
            std::optional<bool> locked, unlocked;
            manager.lockWithReply([&](bool ok, OptionalText) { locked = ok; });
            if (!waitUntil([&] { return locked.has_value(); }) || !*locked) {
                std::fprintf(stderr, "cannot measure: the lock failed\n");
                status = 1;
                break;
            }
            manager.unlockWithAuth(true, [&](bool ok, OptionalText) { unlocked = ok; });
            if (!waitUntil([&] { return dialogView->view() && dialogView->view()->isExposed(); })) {
                std::fprintf(stderr, "cannot measure: no unlock dialog\n");
                status = 1;
                break;
            }
            keyboard.type(password);
            // Let the typed keys land before the clock starts.
            waitUntil([] { return false; }, 50);
            QElapsedTimer clock;
            clock.start();
            keyboard.tap(returnKey);
            if (!waitUntil([&] { return unlocked.has_value(); }) || !*unlocked || grab->isHeld()) {
                std::fprintf(stderr, "cannot measure: the right password did not unlock\n");
                status = 1;
                break;
            }
            unlockMs.push_back(double(clock.nsecsElapsed()) / 1e6);
        }

        for (int round = 0; round < rounds && status == 0; ++round) {
            PamConversation conversation(service, PamConversation::currentUser());
            std::optional<AuthConversationInterface::AttemptOutcome> outcome;
            AuthConversationInterface::Events events;
            events.onAttemptEnded = [&](AuthConversationInterface::AttemptOutcome result, const QString &) {
                outcome = result;
            };
            if (conversation.start(std::move(events))) {
                std::fprintf(stderr, "cannot measure: PAM did not start\n");
                status = 1;
                break;
            }
            QElapsedTimer clock;
            clock.start();
            conversation.submitPassword(secret(password));
            if (!waitUntil([&] { return outcome.has_value(); })
                || *outcome != AuthConversationInterface::AttemptOutcome::Success) {
                std::fprintf(stderr, "cannot measure: PAM refused the right password\n");
                status = 1;
                break;
            }
            pamMs.push_back(double(clock.nsecsElapsed()) / 1e6);
        }
        if (status == 0) {
            std::printf("unlock: Return key to overlay hidden and input released, median %.2f ms over %d rounds\n",
                        medianOf(unlockMs), rounds);
            std::printf("unlock: of which PAM (pam_matrix, password to success event), median %.2f ms over %d rounds\n",
                        medianOf(pamMs), rounds);
        }
    }
    xvfb.terminate();
    xvfb.waitForFinished(3000);
    return status;
}
