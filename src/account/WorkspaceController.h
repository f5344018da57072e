#pragma once

#include <cstdint>
#include <memory>
#include <optional>
#include <string>
#include <string_view>

#include "platform/Desktop.h"
#include "platform/Keychain.h"
#include "platform/Scheduler.h"
#include "service/APIClient.h"
#include "service/NativeSession.h"
#include "util/Lifetime.h"

namespace larkspire {

// The workspace window's logic: which origin the service's web application is loaded
// from, the session handed to the page, and which navigations stay in the window. A thin
// view builds the web view it is told to and asks the controller about every navigation.
// Main thread; the token check and the keyring read run on a background queue.
class WorkspaceController {
  public:
    // One web view to build: a fresh one for every request of the agent.
    struct Page {
        // The origin the page belongs to: navigations to its host stay in the window.
        std::string baseUrl;
        std::string url;
        // Run at document creation in the main frame only; absent without a session.
        std::optional<std::string> userScript;
        bool operator==(const Page&) const = default;
    };

    class View {
      public:
        virtual ~View() = default;
        // Replaces the web view by a fresh one that loads `page`.
        virtual void load(const Page& page) = 0;
        // Shows the window, brings it to the front and activates the agent.
        virtual void present() = 0;
    };

    struct Services {
        platform::Scheduler& scheduler;
        platform::Keychain& keychain;
        platform::Desktop& desktop;
    };

    static constexpr std::string_view kWindowTitle = "Larkspire";
    static constexpr int kWidth = 1280;
    static constexpr int kHeight = 820;
    static constexpr int kMinimumWidth = 900;
    static constexpr int kMinimumHeight = 620;
    static constexpr std::string_view kFrameAutosaveName = "LarkspireWorkspace";
    static constexpr int kLoadTimeoutSeconds = 60;
    static constexpr std::string_view kSessionKey = "larkspire.native-session";
    // Where the service's web application lives when the agent does not talk to a
    // service on this machine.
    static constexpr std::string_view kProductionOrigin = "https://app.larkspire.app";

    WorkspaceController(std::shared_ptr<APIClient> api, std::string baseUrl, Services services);

    // The origin the pages come from: `apiUrl` itself when its host is "localhost" or
    // "127.0.0.1", else `productionOrigin`. Absent when `apiUrl` is no URL.
    static std::optional<std::string> baseUrlFor(const std::string& apiUrl,
                                                 const std::string& productionOrigin);
    // The hand-over script for `session` on pages of `baseUrl`'s scheme and host (the port
    // is not compared); absent when the tokens cannot be written as JSON.
    static std::optional<std::string> handOverScript(const std::string& baseUrl,
                                                     const NativeSession& session);

    // The view is not owned; it detaches itself (nullptr) before it goes away.
    void attach(View* view) { view_ = view; }
    const std::string& baseUrl() const { return baseUrl_; }

    // Builds a fresh web view for `path` (a leading "/" is added when missing). A later
    // request supersedes one still preparing.
    void rebuildWebView(const std::string& path);
    void present();
    // The navigation policy: true keeps the navigation in the window; any other host
    // goes to the desktop (the browser, or the handler of the URL's scheme) and false.
    bool allowNavigation(const std::string& url);
    // The policy's rule: a URL on the host of `baseUrl` (two absent hosts are equal).
    static bool staysInWindow(const std::string& baseUrl, const std::string& url);

  private:
    std::shared_ptr<APIClient> api_;
    std::string baseUrl_;
    Services s_;
    View* view_ = nullptr;
    std::uint64_t generation_ = 0;
    Lifetime lifetime_;
};

}  // namespace larkspire
