// Drives a window through the XTest extension as a user would, and tells when each action
// reached the X server: after the fake input the driver waits for XSync, then prints the
// CLOCK_MONOTONIC time in ns on stdout. Coordinates are in the window's client area.
//
//   rig_xtest now                            prints the CLOCK_MONOTONIC time in ns
//   rig_xtest wait-window TITLE SECONDS      waits until the window is shown; prints its id
//   rig_xtest gone TITLE SECONDS             waits until no such window is shown
//   rig_xtest focus TITLE                    gives the window the input focus, as a window
//                                            manager gives it to a window it has just mapped
//   rig_xtest click TITLE X Y [--at NS]      left click at (X, Y)
//   rig_xtest keys TITLE KEY... [--at NS]    presses keys in turn: "Return", "BackSpace", "End",
//                                            "Alt+s" (modifiers joined with '+')
//   rig_xtest type TITLE TEXT [--at NS]      types the characters of TEXT
//
// --at waits until that CLOCK_MONOTONIC time before pressing, so that a press can be placed
// at a chosen point between two beats. Exit status 1 when the window is not there.

#include <X11/Xlib.h>
#include <X11/Xutil.h>
#include <X11/extensions/XTest.h>
#include <X11/keysym.h>
#include <time.h>

#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <optional>
#include <string>
#include <vector>

namespace vindelor::rig {
namespace {

std::int64_t monotonicNs() {
    timespec now{};
    clock_gettime(CLOCK_MONOTONIC, &now);
    return static_cast<std::int64_t>(now.tv_sec) * 1'000'000'000 + now.tv_nsec;
}

void sleepUntil(std::int64_t ns) {
    const timespec at{static_cast<time_t>(ns / 1'000'000'000),
                      static_cast<long>(ns % 1'000'000'000)};
    while (clock_nanosleep(CLOCK_MONOTONIC, TIMER_ABSTIME, &at, nullptr) != 0) {
    }
}

void sleepMs(int ms) {
    sleepUntil(monotonicNs() + std::int64_t{ms} * 1'000'000);
}

std::string titleOf(Display* display, Window window) {
    static const Atom netWmName = XInternAtom(display, "_NET_WM_NAME", False);
    static const Atom utf8 = XInternAtom(display, "UTF8_STRING", False);
    Atom type = None;
    int format = 0;
    unsigned long count = 0;
    unsigned long rest = 0;
    unsigned char* data = nullptr;
    std::string title;
    if (XGetWindowProperty(display, window, netWmName, 0, 1024, False, utf8, &type, &format, &count,
                           &rest, &data) == Success &&
        data != nullptr) {
        title.assign(reinterpret_cast<const char*>(data), count);
        XFree(data);
        return title;
    }
    char* name = nullptr;
    if (XFetchName(display, window, &name) != 0 && name != nullptr) {
        title = name;
        XFree(name);
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

std::optional<Window> waitForWindow(Display* display, const std::string& title, double seconds) {
    const std::int64_t until = monotonicNs() + static_cast<std::int64_t>(seconds * 1e9);
    while (true) {
        if (auto window = findWindow(display, DefaultRootWindow(display), title)) {
            return window;
        }
        if (monotonicNs() >= until) {
            return std::nullopt;
        }
        sleepMs(50);
    }
}

// Keys go to the window holding the input focus; without a window manager nobody gives it
// to the program, so the driver does, as a click into the window would.
void focus(Display* display, Window window) {
    Window focused = 0;
    int revert = 0;
    XGetInputFocus(display, &focused, &revert);
    if (focused != window) {
        XSetInputFocus(display, window, RevertToParent, CurrentTime);
        XSync(display, False);
        sleepMs(50);
    }
}

std::int64_t synced(Display* display) {
    XSync(display, False);
    return monotonicNs();
}

// A click as a hand makes one: the button is held down a moment. A push button acts when it
// is let go, and the click's moment is the release's.
constexpr int kHoldMs = 60;

std::optional<std::int64_t> click(Display* display, Window window, int x, int y,
                                  std::optional<std::int64_t> at) {
    int rootX = 0;
    int rootY = 0;
    Window child = 0;
    XTranslateCoordinates(display, window, DefaultRootWindow(display), x, y, &rootX, &rootY,
                          &child);
    XTestFakeMotionEvent(display, DefaultScreen(display), rootX, rootY, CurrentTime);
    XSync(display, False);
    if (at) {
        sleepUntil(*at - std::int64_t{kHoldMs} * 1'000'000);
    } else {
        sleepMs(30);
    }
    XTestFakeButtonEvent(display, 1, True, CurrentTime);
    XSync(display, False);
    sleepMs(kHoldMs);
    XTestFakeButtonEvent(display, 1, False, CurrentTime);
    return synced(display);
}

// "Alt+s" gives the key codes of Alt_L and s, in pressing order.
std::optional<std::vector<KeyCode>> keyCodes(Display* display, const std::string& chord) {
    std::vector<KeyCode> codes;
    std::size_t from = 0;
    while (from <= chord.size()) {
        std::size_t plus = chord.find('+', from + 1);
        if (plus == std::string::npos) {
            plus = chord.size();
        }
        std::string name = chord.substr(from, plus - from);
        if (name == "Alt" || name == "Control" || name == "Shift") {
            name += "_L";
        }
        const KeySym symbol = XStringToKeysym(name.c_str());
        const KeyCode code = symbol == NoSymbol ? 0 : XKeysymToKeycode(display, symbol);
        if (code == 0) {
            std::fprintf(stderr, "rig_xtest: no key \"%s\"\n", name.c_str());
            return std::nullopt;
        }
        codes.push_back(code);
        from = plus + 1;
    }
    return codes;
}

void pressChord(Display* display, const std::vector<KeyCode>& codes) {
    for (KeyCode code : codes) {
        XTestFakeKeyEvent(display, code, True, CurrentTime);
    }
    for (auto it = codes.rbegin(); it != codes.rend(); ++it) {
        XTestFakeKeyEvent(display, *it, False, CurrentTime);
    }
}

std::optional<std::int64_t> keys(Display* display, Window window,
                                 const std::vector<std::string>& chords,
                                 std::optional<std::int64_t> at) {
    std::vector<std::vector<KeyCode>> all;
    for (const std::string& chord : chords) {
        auto codes = keyCodes(display, chord);
        if (!codes) {
            return std::nullopt;
        }
        all.push_back(*codes);
    }
    focus(display, window);
    if (at) {
        sleepUntil(*at);
    }
    std::int64_t last = 0;
    for (std::size_t i = 0; i < all.size(); ++i) {
        if (i > 0) {
            sleepMs(20);
        }
        pressChord(display, all[i]);
        last = synced(display);
    }
    return last;
}

// The display's core keyboard and pointer take on each event the device it came from; a
// change of keyboard makes every client fetch the keymap again, a dozen round trips, on the
// key that caused it. On a desktop the keyboard and mouse in use are the display's already:
// one Shift and one move through XTest make its devices so before any program starts.
void useDevices(Display* display) {
    const KeyCode shift = XKeysymToKeycode(display, XK_Shift_L);
    if (shift != 0) {
        XTestFakeKeyEvent(display, shift, True, CurrentTime);
        XTestFakeKeyEvent(display, shift, False, CurrentTime);
    }
    XTestFakeMotionEvent(display, DefaultScreen(display), 0, 0, CurrentTime);
    XSync(display, False);
}

std::vector<std::string> chordsForText(const std::string& text) {
    std::vector<std::string> chords;
    for (char c : text) {
        chords.push_back(c == '\n' ? "Return" : std::string(1, c));
    }
    return chords;
}

int usage() {
    std::fprintf(stderr,
                 "usage: rig_xtest now\n"
                 "       rig_xtest wait-window|gone TITLE SECONDS\n"
                 "       rig_xtest use-devices\n"
                 "       rig_xtest focus TITLE\n"
                 "       rig_xtest click TITLE X Y [--at NS]\n"
                 "       rig_xtest keys TITLE KEY... [--at NS]\n"
                 "       rig_xtest type TITLE TEXT [--at NS]\n");
    return 2;
}

int run(std::vector<std::string> args) {
    if (args.size() == 1 && args[0] == "now") {
        std::printf("%lld\n", static_cast<long long>(monotonicNs()));
        return 0;
    }
    const bool withoutWindow = args.size() == 1 && args[0] == "use-devices";
    if (!withoutWindow && (args.size() < 2 || (args.size() < 3 && args[0] != "focus"))) {
        return usage();
    }
    std::optional<std::int64_t> at;
    if (args.size() >= 2 && args[args.size() - 2] == "--at") {
        at = std::atoll(args.back().c_str());
        args.resize(args.size() - 2);
    }
    const std::string command = args[0];
    Display* display = XOpenDisplay(nullptr);
    if (display == nullptr) {
        std::fprintf(stderr, "rig_xtest: cannot open the display \"%s\"\n",
                     std::getenv("DISPLAY") ? std::getenv("DISPLAY") : "");
        return 1;
    }
    int event = 0;
    int error = 0;
    int major = 0;
    int minor = 0;
    if (!XTestQueryExtension(display, &event, &error, &major, &minor)) {
        std::fprintf(stderr, "rig_xtest: the display has no XTest extension\n");
        XCloseDisplay(display);
        return 1;
    }
    if (withoutWindow) {
        useDevices(display);
        XCloseDisplay(display);
        return 0;
    }
    const std::string title = args[1];
    int status = 0;
    if (command == "wait-window" || command == "gone") {
        const double seconds = std::atof(args[2].c_str());
        if (command == "wait-window") {
            const auto window = waitForWindow(display, title, seconds);
            if (window) {
                std::printf("0x%lx\n", *window);
            } else {
                std::fprintf(stderr, "rig_xtest: no window \"%s\" within %g s\n", title.c_str(),
                             seconds);
                status = 1;
            }
        } else {
            const std::int64_t until = monotonicNs() + static_cast<std::int64_t>(seconds * 1e9);
            while (findWindow(display, DefaultRootWindow(display), title)) {
                if (monotonicNs() >= until) {
                    std::fprintf(stderr, "rig_xtest: window \"%s\" still shown after %g s\n",
                                 title.c_str(), seconds);
                    status = 1;
                    break;
                }
                sleepMs(50);
            }
        }
        XCloseDisplay(display);
        return status;
    }
    const auto window = findWindow(display, DefaultRootWindow(display), title);
    if (!window) {
        std::fprintf(stderr, "rig_xtest: no window \"%s\"\n", title.c_str());
        XCloseDisplay(display);
        return 1;
    }
    std::optional<std::int64_t> done;
    if (command == "focus" && args.size() == 2) {
        XSetInputFocus(display, *window, RevertToParent, CurrentTime);
        done = synced(display);
    } else if (command == "click" && args.size() == 4) {
        done = click(display, *window, std::atoi(args[2].c_str()), std::atoi(args[3].c_str()), at);
    } else if (command == "keys") {
        done = keys(display, *window, {args.begin() + 2, args.end()}, at);
    } else if (command == "type" && args.size() == 3) {
        done = keys(display, *window, chordsForText(args[2]), at);
    } else {
        XCloseDisplay(display);
        return usage();
    }
    XCloseDisplay(display);
    if (!done) {
        return 1;
    }
    std::printf("%lld\n", static_cast<long long>(*done));
    return 0;
}

}  // namespace
}  // namespace vindelor::rig

int main(int argc, char** argv) {
    return vindelor::rig::run({argv + 1, argv + argc});
}
