// Drives a window through the XTest extension as a user would, and tells when each action
// reached the X server: after the fake input it waits for XSync, then prints the
// CLOCK_MONOTONIC time in ns. Coordinates are in the window's client area.
//
//   rig drive use-devices                 makes XTest's keyboard and pointer the display's
//   rig drive wait-window TITLE SECONDS   waits until the window is shown
//   rig drive focus TITLE                 gives it the input focus, as a window manager
//                                         gives it to a window it has just mapped
//   rig drive click TITLE X Y [--at NS]   a left click at (X, Y)
//   rig drive keys TITLE KEY... [--at NS] keys in turn, by their names: "End", "7", "Return"
//
// --at waits until that CLOCK_MONOTONIC time before the press (a click's release), so that
// it can be placed at a chosen point between two beats.

#include <X11/Xlib.h>
#include <X11/Xutil.h>
#include <X11/extensions/XTest.h>
#include <X11/keysym.h>

#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "bench/rig/rig.h"

namespace vindelor::rig {
namespace {

// A click as a hand makes one: the button is held down a moment. A push button acts when it
// is let go, and the click's moment is the release's.
constexpr std::int64_t kHoldNs = 60'000'000;

void sleepMs(int ms) {
    sleepUntilNs(monotonicNs() + std::int64_t{ms} * 1'000'000);
}

std::int64_t synced(Display* display) {
    XSync(display, False);
    return monotonicNs();
}

std::string titleOf(Display* display, Window window) {
    static const Atom name = XInternAtom(display, "_NET_WM_NAME", False);
    static const Atom utf8 = XInternAtom(display, "UTF8_STRING", False);
    Atom type = None;
    int format = 0;
    unsigned long count = 0;
    unsigned long rest = 0;
    unsigned char* data = nullptr;
    std::string title;
    if (XGetWindowProperty(display, window, name, 0, 1024, False, utf8, &type, &format, &count,
                           &rest, &data) == Success && data != nullptr) {
        title.assign(reinterpret_cast<const char*>(data), count);
        XFree(data);
    }
    return title;
}

// The first shown window, at any depth, whose title is exactly `title`.
std::optional<Window> findWindow(Display* display, Window under, const std::string& title) {
    Window root = 0;
    Window parent = 0;
    Window* children = nullptr;
    unsigned int count = 0;
    if (XQueryTree(display, under, &root, &parent, &children, &count) == 0) {
        return std::nullopt;
    }
    std::optional<Window> found;
    for (unsigned int i = 0; i < count && !found; ++i) {
        XWindowAttributes attributes{};
        if (XGetWindowAttributes(display, children[i], &attributes) != 0 &&
            attributes.map_state == IsViewable && titleOf(display, children[i]) == title) {
            found = children[i];
        } else {
            found = findWindow(display, children[i], title);
        }
    }
    if (children != nullptr) {
        XFree(children);
    }
    return found;
}

std::int64_t click(Display* display, Window window, int x, int y, std::optional<std::int64_t> at) {
    int rootX = 0;
    int rootY = 0;
    Window child = 0;
    XTranslateCoordinates(display, window, DefaultRootWindow(display), x, y, &rootX, &rootY,
                          &child);
    XTestFakeMotionEvent(display, DefaultScreen(display), rootX, rootY, CurrentTime);
    XSync(display, False);
    sleepUntilNs(at ? *at - kHoldNs : monotonicNs() + 30'000'000);
    XTestFakeButtonEvent(display, 1, True, CurrentTime);
    XSync(display, False);
    sleepUntilNs(monotonicNs() + kHoldNs);
    XTestFakeButtonEvent(display, 1, False, CurrentTime);
    return synced(display);
}

// Keys go to the window holding the input focus; without a window manager nobody gives it to
// the program, so the driver does, as a click into the window would.
std::int64_t keys(Display* display, Window window, const std::vector<std::string>& names,
                  std::optional<std::int64_t> at) {
    std::vector<KeyCode> codes;
    for (const std::string& name : names) {
        const KeySym symbol = XStringToKeysym(name.c_str());
        codes.push_back(symbol == NoSymbol ? 0 : XKeysymToKeycode(display, symbol));
        if (codes.back() == 0) {
            throw UsageError("no key \"" + name + "\"");
        }
    }
    Window focused = 0;
    int revert = 0;
    XGetInputFocus(display, &focused, &revert);
    if (focused != window) {
        XSetInputFocus(display, window, RevertToParent, CurrentTime);
        XSync(display, False);
        sleepMs(50);
    }
    if (at) {
        sleepUntilNs(*at);
    }
    std::int64_t last = 0;
    for (std::size_t i = 0; i < codes.size(); ++i) {
        if (i > 0) {
            sleepMs(20);
        }
        XTestFakeKeyEvent(display, codes[i], True, CurrentTime);
        XTestFakeKeyEvent(display, codes[i], False, CurrentTime);
        last = synced(display);
    }
    return last;
}

}  // namespace

int drive(Args& args) {
    std::optional<std::int64_t> at;
    if (const double ns = args.number("--at", -1); ns >= 0) {
        at = static_cast<std::int64_t>(ns);
    }
    const std::vector<std::string> words = args.plain();
    args.finish();
    const std::string action = words.empty() ? "" : words[0];
    const std::unique_ptr<Display, decltype(&XCloseDisplay)> owner(XOpenDisplay(nullptr),
                                                                   &XCloseDisplay);
    Display* display = owner.get();
    int ignored[4] = {};
    if (display == nullptr ||
        !XTestQueryExtension(display, &ignored[0], &ignored[1], &ignored[2], &ignored[3])) {
        throw std::runtime_error("no display with XTest at \"" +
                                 std::string(std::getenv("DISPLAY") ? std::getenv("DISPLAY") : "") +
                                 "\"");
    }
    if (action == "use-devices" && words.size() == 1) {
        // Each event gives the display's core keyboard and pointer the device it came from,
        // and a change of keyboard makes every client fetch the keymap again: on the key that
        // caused it. On a desktop the devices in use are the display's already.
        const KeyCode shift = XKeysymToKeycode(display, XK_Shift_L);
        XTestFakeKeyEvent(display, shift, True, CurrentTime);
        XTestFakeKeyEvent(display, shift, False, CurrentTime);
        XTestFakeMotionEvent(display, DefaultScreen(display), 0, 0, CurrentTime);
        synced(display);
        return 0;
    }
    if (words.size() < 2) {
        throw UsageError("which action, on which window?");
    }
    const std::string& title = words[1];
    std::optional<Window> window = findWindow(display, DefaultRootWindow(display), title);
    if (action == "wait-window" && words.size() == 3) {
        const std::int64_t until = monotonicNs() + static_cast<std::int64_t>(std::stod(words[2]) * 1e9);
        for (; !window && monotonicNs() < until; sleepMs(50)) {
            window = findWindow(display, DefaultRootWindow(display), title);
        }
    }
    if (!window) {
        throw std::runtime_error("no window \"" + title + "\"");
    }
    std::int64_t done = 0;
    if (action == "wait-window" && words.size() == 3) {
        return 0;
    } else if (action == "focus" && words.size() == 2) {
        XSetInputFocus(display, *window, RevertToParent, CurrentTime);
        done = synced(display);
    } else if (action == "click" && words.size() == 4) {
        done = click(display, *window, std::stoi(words[2]), std::stoi(words[3]), at);
    } else if (action == "keys" && words.size() > 2) {
        done = keys(display, *window, {words.begin() + 2, words.end()}, at);
    } else {
        throw UsageError("no such action: " + action);
    }
    std::printf("%lld\n", static_cast<long long>(done));
    return 0;
}

}  // namespace vindelor::rig
