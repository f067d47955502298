#pragma once

#include <QAbstractNativeEventFilter>
#include <QObject>
#include <QString>

#include <cstdint>
#include <optional>

namespace quiro {

// Ctrl+Shift+Space anywhere on the desktop, also while another program (the video call) has the
// focus: a passive key grab on the X root window, for every combination of the lock keys, since
// X matches a grab's modifiers exactly and NumLock or CapsLock would otherwise defeat it. Each
// press is reported once (holding the keys does not repeat it). On Wayland the program's windows
// run through XWayland, where such a grab only sees keys while one of our windows has the focus;
// the desktop portal's global shortcuts are used there instead (PortalShortcut).
class GlobalHotKey final : public QObject, public QAbstractNativeEventFilter {
    Q_OBJECT
public:
    // X11 modifier bits (the core protocol's key and button mask).
    enum Modifier : uint16_t {
        shift = 1 << 0,
        capsLock = 1 << 1,
        control = 1 << 2,
        alt = 1 << 3,     // Mod1
        numLock = 1 << 4, // Mod2
        super = 1 << 6,   // Mod4
    };

    explicit GlobalHotKey(QObject* parent = nullptr);
    ~GlobalHotKey() override;

    // Grabs the key; nothing when it works, otherwise why not (no X11 display, the key already
    // grabbed by another program). Call once, on the GUI thread of a QGuiApplication.
    std::optional<QString> install();
    bool isInstalled() const { return m_keycode != 0; }

    // Whether a key event's modifier state is exactly Ctrl+Shift, whatever the lock keys say.
    static bool matches(uint16_t state);

    bool nativeEventFilter(const QByteArray& eventType, void* message, qintptr* result) override;

signals:
    void activated();

private:
    void ungrab();

    uint8_t m_keycode = 0;
    bool m_down = false;
};

} // namespace quiro
