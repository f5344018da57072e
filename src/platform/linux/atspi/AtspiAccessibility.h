#pragma once

#include <map>
#include <memory>

#include "platform/Accessibility.h"
#include "platform/SystemLog.h"
#include "util/CHandle.h"

// libatspi types, kept out of the logic's headers.
typedef struct _AtspiAccessible AtspiAccessible;
typedef struct _AtspiEventListener AtspiEventListener;
typedef struct _AtspiEvent AtspiEvent;

namespace larkspire::linux_desktop {

// Unreferences a GObject (the type is opaque here: <glib-object.h> is not included).
void unrefObject(void* object);
template <class T>
using ObjectPtr = CHandle<T, unrefObject>;
using AccessiblePtr = ObjectPtr<AtspiAccessible>;

// AT-SPI 2 through libatspi. The focused element of each application is cached from
// focus events, so a capture at key-down takes a few calls; without a cache entry, a
// bounded walk of the application's tree finds it. The cache keeps each application's
// last focus while another application's window is active (the agent's own dialog), so
// the application that was in front stays readable. Every call is bounded by a short
// time-out, and the agent's own process is never asked (it would answer only after the
// D-Bus time-out, from the main thread it blocks). Events are delivered through the
// default GLib main context, which Qt's event loop runs. Main thread.
class AtspiAccessibility : public platform::Accessibility {
  public:
    // Time-out of each call into another application.
    static constexpr int kCallTimeoutMs = 250;
    // The most elements a focus walk visits.
    static constexpr int kWalkLimit = 350;

    explicit AtspiAccessibility(platform::SystemLog& log);
    ~AtspiAccessibility() override;
    AtspiAccessibility(const AtspiAccessibility&) = delete;
    AtspiAccessibility& operator=(const AtspiAccessibility&) = delete;

    std::shared_ptr<platform::AccessibleElement> focusedElement(platform::ProcessId pid) override;
    std::shared_ptr<platform::AccessibleElement> focusedWindow(platform::ProcessId pid) override;

    // Turns the session's accessibility bus on (org.a11y.Status IsEnabled) when it is off;
    // true when it is on afterwards. Without it password fields cannot be recognised.
    static bool enableAccessibilityBus(platform::SystemLog& log);

    // How the last focusedElement() found its answer: "cache", "walk", "last focus" or
    // "none".
    const char* lastSource() const { return lastSource_; }
    // Processes the focus cache holds an entry for; exited ones are forgotten.
    size_t cachedProcesses() const { return focusCache_.size(); }

  private:
    static void onFocusEvent(AtspiEvent* event, void* self);
    void focusChanged(AtspiAccessible* source, bool focused);
    void forgetExitedProcesses();
    bool isOwnOrNone(platform::ProcessId pid) const;
    AccessiblePtr applicationOf(platform::ProcessId pid);
    AccessiblePtr activeWindowOf(AtspiAccessible* application);
    AccessiblePtr walkForFocus(AtspiAccessible* application);

    platform::SystemLog& log_;
    ObjectPtr<AtspiEventListener> listener_;
    // The element that last gained the focus, per process.
    std::map<platform::ProcessId, AccessiblePtr> focusCache_;
    const char* lastSource_ = "none";
};

}  // namespace larkspire::linux_desktop
