#include "account/SignInController.h"

#include <exception>

#include "util/Text.h"

namespace larkspire {

std::shared_ptr<SignInController> SignInController::create(std::shared_ptr<APIClient> api,
                                                           platform::Scheduler& scheduler,
                                                           std::function<void()> onSignedIn) {
    return std::shared_ptr<SignInController>(
        new SignInController(std::move(api), scheduler, std::move(onSignedIn)));
}

SignInController::SignInController(std::shared_ptr<APIClient> api, platform::Scheduler& scheduler,
                                   std::function<void()> onSignedIn)
    : api_(std::move(api)), scheduler_(scheduler), onSignedIn_(std::move(onSignedIn)) {
    state_.message = std::string(kIntroduction);
    state_.primaryTitle = std::string(kSendTitle);
}

void SignInController::attach(View* view) {
    view_ = view;
    render();
}

void SignInController::render() {
    if (view_) {
        view_->render(state_);
    }
}

void SignInController::submit(std::string_view emailField, std::string_view codeField) {
    // The button is disabled while a call runs; Return must not slip past that.
    if (inFlight_ || signedIn_) {
        return;
    }
    const std::string email = text::trimmed(emailField);
    if (email.empty()) {
        state_.message = std::string(kEmptyAddress);
        state_.messageTone = Tone::error;
        render();
        return;
    }
    const bool verifying = state_.codeSent;
    inFlight_ = true;
    state_.primaryEnabled = false;
    state_.primaryTitle = std::string(verifying ? kVerifyingTitle : kSendingTitle);
    render();

    // The code is sent as typed, blanks included.
    const std::string code(codeField);
    std::weak_ptr<SignInController> weak = weak_from_this();
    platform::Scheduler* scheduler = &scheduler_;
    scheduler_.runInBackground(platform::Priority::userInitiated,
                               [weak, api = api_, scheduler, verifying, email, code] {
                                   if (weak.expired()) {
                                       return;
                                   }
                                   std::optional<std::string> error;
                                   try {
                                       if (verifying) {
                                           api->verifySignInCode(email, code);
                                       } else {
                                           api->requestSignInCode(email);
                                       }
                                   } catch (const std::exception& e) {
                                       error = e.what();
                                   }
                                   scheduler->post([weak, verifying, email, error] {
                                       if (auto self = weak.lock()) {
                                           self->finish(verifying, email, error);
                                       }
                                   });
                               });
}

void SignInController::finish(bool verifying, const std::string& email,
                              std::optional<std::string> error) {
    inFlight_ = false;
    if (error) {
        state_.primaryEnabled = true;
        state_.primaryTitle = std::string(verifying ? kVerifyTitle : kSendTitle);
        state_.message = *error;
        state_.messageTone = Tone::error;
        render();
        return;
    }
    if (!verifying) {
        state_.codeSent = true;
        state_.emailEnabled = false;
        state_.codeVisible = true;
        state_.primaryEnabled = true;
        state_.primaryTitle = std::string(kVerifyTitle);
        state_.message = "We sent a one-time code to " + email + ".";
        state_.messageTone = Tone::secondary;
        render();
        if (view_) {
            view_->focusCode();
        }
        return;
    }
    signedIn_ = true;
    // Keep this controller alive through the callback: the shell may drop it there.
    auto self = shared_from_this();
    if (view_) {
        view_->closeWindow();
    }
    if (onSignedIn_) {
        onSignedIn_();
    }
}

}  // namespace larkspire
