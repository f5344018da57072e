#pragma once

#include <functional>
#include <memory>
#include <optional>
#include <string>
#include <string_view>

#include "platform/Scheduler.h"
#include "service/APIClient.h"

namespace larkspire {

// The sign-in window's logic: an e-mailed one-time code in two steps with one button.
// The controller decides every text and enabled flag; a thin view draws them and reports
// the button. Main thread only; the service calls run on a background queue.
class SignInController : public std::enable_shared_from_this<SignInController> {
  public:
    enum class Tone { secondary, error };

    struct State {
        std::string message;
        Tone messageTone = Tone::secondary;
        bool emailEnabled = true;
        bool codeVisible = false;
        bool primaryEnabled = true;
        std::string primaryTitle;
        // The step: false = ask for a code, true = verify a code.
        bool codeSent = false;
        bool operator==(const State&) const = default;
    };

    // What the controller asks of its window.
    class View {
      public:
        virtual ~View() = default;
        virtual void render(const State& state) = 0;
        virtual void focusCode() = 0;
        virtual void closeWindow() = 0;
    };

    static constexpr std::string_view kWindowTitle = "Sign in to Larkspire";
    static constexpr int kWindowWidth = 480;
    static constexpr int kWindowHeight = 430;
    static constexpr std::string_view kBrand = "▥  Larkspire";
    static constexpr std::string_view kHeadline = "Your voice, ready everywhere.";
    static constexpr std::string_view kIntroduction =
        "Sign in to keep your words and projects available across devices.";
    static constexpr std::string_view kEmailPlaceholder = "you@example.com";
    static constexpr std::string_view kCodePlaceholder = "6-digit code";
    static constexpr std::string_view kSendTitle = "Email me a sign-in code";
    static constexpr std::string_view kSendingTitle = "Sending…";
    static constexpr std::string_view kVerifyTitle = "Verify and continue";
    static constexpr std::string_view kVerifyingTitle = "Verifying…";
    static constexpr std::string_view kEmptyAddress = "Enter your email address.";
    static constexpr std::string_view kFootnote =
        "The session is stored in your desktop keyring. Your password is never stored by "
        "Larkspire.";

    // `onSignedIn` runs once, on the main queue, after a verified code has been installed
    // in `api` and the window has been closed. `scheduler` must outlive the controller.
    static std::shared_ptr<SignInController> create(std::shared_ptr<APIClient> api,
                                                    platform::Scheduler& scheduler,
                                                    std::function<void()> onSignedIn);

    // The view is not owned; it detaches itself (nullptr) before it goes away.
    void attach(View* view);
    const State& state() const { return state_; }

    // The button's action (also Return). `emailField` and `codeField` are the texts of
    // the two fields as they stand.
    void submit(std::string_view emailField, std::string_view codeField);

  private:
    SignInController(std::shared_ptr<APIClient> api, platform::Scheduler& scheduler,
                     std::function<void()> onSignedIn);
    void finish(bool verifying, const std::string& email, std::optional<std::string> error);
    void render();

    std::shared_ptr<APIClient> api_;
    platform::Scheduler& scheduler_;
    std::function<void()> onSignedIn_;
    View* view_ = nullptr;
    State state_;
    bool inFlight_ = false;
    bool signedIn_ = false;
};

}  // namespace larkspire
