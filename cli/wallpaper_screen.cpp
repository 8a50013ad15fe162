#include "cli/wallpaper_screen.h"

#include <dlfcn.h>

#include <cstdlib>

#include "cli/messages.h"
#include "engine/limits.h"

namespace wallpaper {

namespace {

using msg::Tr;

// The few Xlib and XRandR types used here, as the libraries' stable ABI
// lays them out (libX11.so.6 and libXrandr.so.2 have kept these since
// RandR 1.3). Declaring them here spares the build their development
// packages, which only this lookup would need.
using XID = unsigned long;
using Window = XID;
using RROutput = XID;
using RRCrtc = XID;
using RRMode = XID;
using Time = unsigned long;
using Rotation = unsigned short;
struct Display;
struct XErrorEvent;
using XErrorHandler = int (*)(Display*, XErrorEvent*);

struct XRRModeInfo {
    RRMode id;
    unsigned int width, height;
    unsigned long dotClock;
    unsigned int hSyncStart, hSyncEnd, hTotal, hSkew;
    unsigned int vSyncStart, vSyncEnd, vTotal;
    char* name;
    unsigned int nameLength;
    unsigned long modeFlags;
};

struct XRRScreenResources {
    Time timestamp, configTimestamp;
    int ncrtc;
    RRCrtc* crtcs;
    int noutput;
    RROutput* outputs;
    int nmode;
    XRRModeInfo* modes;
};

struct XRROutputInfo {
    Time timestamp;
    RRCrtc crtc;
    char* name;
    int nameLen;
    unsigned long mmWidth, mmHeight;
    unsigned short connection, subpixelOrder;
    int ncrtc;
    RRCrtc* crtcs;
    int nclone;
    RROutput* clones;
    int nmode, npreferred;
    RRMode* modes;
};

struct XRRCrtcInfo {
    Time timestamp;
    int x, y;
    unsigned int width, height;
    RRMode mode;
    Rotation rotation;
    int noutput;
    RROutput* outputs;
    Rotation rotations;
    int npossible;
    RROutput* possible;
};

// RandR's rotations that turn the picture on its side.
constexpr Rotation kRotate90 = 2;
constexpr Rotation kRotate270 = 8;

// The functions, found in the libraries once they are loaded. The libraries
// stay loaded until the process ends: unloading Xlib would leave the caches
// it keeps to the end unreachable, for nothing.
struct XFunctions {
    Display* (*OpenDisplay)(const char*) = nullptr;
    int (*CloseDisplay)(Display*) = nullptr;
    int (*DefaultScreen)(Display*) = nullptr;
    Window (*RootWindow)(Display*, int) = nullptr;
    int (*DisplayWidth)(Display*, int) = nullptr;
    int (*DisplayHeight)(Display*, int) = nullptr;
    XErrorHandler (*SetErrorHandler)(XErrorHandler) = nullptr;
    int (*QueryExtension)(Display*, const char*, int*, int*, int*) = nullptr;
    int (*QueryVersion)(Display*, int*, int*) = nullptr;
    XRRScreenResources* (*GetScreenResources)(Display*, Window) = nullptr;
    XRRScreenResources* (*GetScreenResourcesCurrent)(Display*, Window) = nullptr;
    void (*FreeScreenResources)(XRRScreenResources*) = nullptr;
    XRROutputInfo* (*GetOutputInfo)(Display*, XRRScreenResources*, RROutput) = nullptr;
    void (*FreeOutputInfo)(XRROutputInfo*) = nullptr;
    XRRCrtcInfo* (*GetCrtcInfo)(Display*, XRRScreenResources*, RRCrtc) = nullptr;
    void (*FreeCrtcInfo)(XRRCrtcInfo*) = nullptr;
    RROutput (*GetOutputPrimary)(Display*, Window) = nullptr;
};

template <typename F>
bool Find(void* library, const char* name, F* function) {
    *function = reinterpret_cast<F>(dlsym(library, name));
    return *function != nullptr;
}

// Loads both libraries; "" or why not.
std::string Load(XFunctions* x) {
    void* x11 = dlopen("libX11.so.6", RTLD_NOW | RTLD_LOCAL);
    if (!x11) return msg::Format(Tr("%s cannot be loaded (install %s)"), "libX11.so.6", "libx11-6");
    void* randr = dlopen("libXrandr.so.2", RTLD_NOW | RTLD_LOCAL);
    if (!randr)
        return msg::Format(Tr("%s cannot be loaded (install %s)"), "libXrandr.so.2", "libxrandr2");
    const bool found = Find(x11, "XOpenDisplay", &x->OpenDisplay) &&
                       Find(x11, "XCloseDisplay", &x->CloseDisplay) &&
                       Find(x11, "XDefaultScreen", &x->DefaultScreen) &&
                       Find(x11, "XRootWindow", &x->RootWindow) &&
                       Find(x11, "XDisplayWidth", &x->DisplayWidth) &&
                       Find(x11, "XDisplayHeight", &x->DisplayHeight) &&
                       Find(x11, "XSetErrorHandler", &x->SetErrorHandler) &&
                       Find(x11, "XQueryExtension", &x->QueryExtension) &&
                       Find(randr, "XRRQueryVersion", &x->QueryVersion) &&
                       Find(randr, "XRRGetScreenResources", &x->GetScreenResources) &&
                       Find(randr, "XRRFreeScreenResources", &x->FreeScreenResources) &&
                       Find(randr, "XRRGetOutputInfo", &x->GetOutputInfo) &&
                       Find(randr, "XRRFreeOutputInfo", &x->FreeOutputInfo) &&
                       Find(randr, "XRRGetCrtcInfo", &x->GetCrtcInfo) &&
                       Find(randr, "XRRFreeCrtcInfo", &x->FreeCrtcInfo);
    if (!found) return msg::Format(Tr("%s lacks functions this tool needs"), "libX11/libXrandr");
    // RandR 1.3's; older libraries go without.
    Find(randr, "XRRGetScreenResourcesCurrent", &x->GetScreenResourcesCurrent);
    Find(randr, "XRRGetOutputPrimary", &x->GetOutputPrimary);
    return {};
}

// A request the server refuses (an output unplugged while being looked at)
// must not end the process, as Xlib's default handler would.
int IgnoreError(Display*, XErrorEvent*) { return 0; }

// The monitors that show a picture, as RandR 1.2 and later describe them.
// RandR 1.3 adds the primary output, and resources as they are without
// probing every connector anew (which takes a while on real hardware).
std::vector<Monitor> ActiveMonitors(const XFunctions& x, Display* display, Window root,
                                    bool randr13) {
    std::vector<Monitor> monitors;
    const bool current = randr13 && x.GetScreenResourcesCurrent;
    XRRScreenResources* resources =
        current ? x.GetScreenResourcesCurrent(display, root) : x.GetScreenResources(display, root);
    if (!resources) return monitors;
    const RROutput primary = randr13 && x.GetOutputPrimary ? x.GetOutputPrimary(display, root) : 0;
    for (int i = 0; i < resources->noutput; ++i) {
        XRROutputInfo* output = x.GetOutputInfo(display, resources, resources->outputs[i]);
        if (!output) continue;
        XRRCrtcInfo* crtc =
            output->crtc ? x.GetCrtcInfo(display, resources, output->crtc) : nullptr;
        if (crtc && crtc->mode != 0) {
            Monitor m;
            m.primary = resources->outputs[i] == primary;
            m.width = crtc->width;  // in case the mode is not listed
            m.height = crtc->height;
            for (int k = 0; k < resources->nmode; ++k) {
                if (resources->modes[k].id != crtc->mode) continue;
                const bool turned = (crtc->rotation & (kRotate90 | kRotate270)) != 0;
                m.width = turned ? resources->modes[k].height : resources->modes[k].width;
                m.height = turned ? resources->modes[k].width : resources->modes[k].height;
            }
            monitors.push_back(m);
        }
        if (crtc) x.FreeCrtcInfo(crtc);
        x.FreeOutputInfo(output);
    }
    x.FreeScreenResources(resources);
    return monitors;
}

// Why there is no X display to ask.
std::string NoDisplay() {
    const char* wayland = std::getenv("WAYLAND_DISPLAY");
    if (wayland && *wayland) return Tr("a Wayland session without X11 (DISPLAY is not set)");
    return Tr("no X display (DISPLAY is not set)");
}

}  // namespace

ScreenSize ChooseSize(const std::vector<Monitor>& monitors, std::uint32_t screenWidth,
                      std::uint32_t screenHeight) {
    const Monitor* chosen = nullptr;
    for (const Monitor& m : monitors) {
        if (m.primary) {
            chosen = &m;
            break;
        }
        if (!chosen ||
            std::uint64_t{m.width} * m.height > std::uint64_t{chosen->width} * chosen->height) {
            chosen = &m;
        }
    }
    ScreenSize size;
    size.width = chosen ? chosen->width : screenWidth;
    size.height = chosen ? chosen->height : screenHeight;
    return size;
}

ScreenSize FindScreenSize() {
    ScreenSize size;
    const char* name = std::getenv("DISPLAY");
    if (!name || !*name) {
        size.problem = NoDisplay();
        return size;
    }
    XFunctions x;
    size.problem = Load(&x);
    if (!size.problem.empty()) return size;
    Display* display = x.OpenDisplay(name);
    if (!display) {
        size.problem = msg::Format(Tr("cannot open the X display %s"), name);
        return size;
    }
    const XErrorHandler previous = x.SetErrorHandler(IgnoreError);
    const int screen = x.DefaultScreen(display);
    const Window root = x.RootWindow(display, screen);
    int opcode = 0, event = 0, error = 0, major = 0, minor = 0;
    std::vector<Monitor> monitors;
    // Outputs and their modes came with RandR 1.2; a server without them has
    // one screen, whose size is the monitor's. The server is asked through
    // Xlib first: libXrandr keeps data for every display it is asked about
    // and frees it at XCloseDisplay only where the server has the extension.
    if (x.QueryExtension(display, "RANDR", &opcode, &event, &error) &&
        x.QueryVersion(display, &major, &minor) && (major > 1 || (major == 1 && minor >= 2))) {
        monitors = ActiveMonitors(x, display, root, major > 1 || minor >= 3);
    }
    const int screenWidth = x.DisplayWidth(display, screen);
    const int screenHeight = x.DisplayHeight(display, screen);
    x.SetErrorHandler(previous);
    x.CloseDisplay(display);

    size = ChooseSize(monitors, screenWidth > 0 ? static_cast<std::uint32_t>(screenWidth) : 0,
                      screenHeight > 0 ? static_cast<std::uint32_t>(screenHeight) : 0);
    // The pictures go up to 32767 pixels a side; X screens never exceed it.
    if (size.width < 1 || size.height < 1 || size.width > limits::kMaxSide ||
        size.height > limits::kMaxSide) {
        size.problem = msg::Format(Tr("the X display %s reports a screen of %u x %u pixels"), name,
                                   size.width, size.height);
    }
    return size;
}

}  // namespace wallpaper
