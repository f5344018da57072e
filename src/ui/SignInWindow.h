#pragma once

#include <QWidget>
#include <memory>

#include "account/SignInController.h"

class QLabel;
class QLineEdit;
class QPushButton;

namespace larkspire::ui {

// The sign-in window: draws SignInController's state and hands it the button. Closing
// it by the close box leaves the agent signed out; the controller stays with the shell.
// Child widgets carry object names ("email", "code", "message", "primary") for tests.
class SignInWindow : public QWidget, public SignInController::View {
  public:
    explicit SignInWindow(std::shared_ptr<SignInController> controller, QWidget* parent = nullptr);
    ~SignInWindow() override;

    // Shows the window centred on its screen, raises it and makes it the active window.
    void present();

    // SignInController::View
    void render(const SignInController::State& state) override;
    void focusCode() override;
    void closeWindow() override;

  private:
    void submit();

    std::shared_ptr<SignInController> controller_;
    QLabel* message_;
    QLineEdit* email_;
    QLineEdit* code_;
    QPushButton* primary_;
};

}  // namespace larkspire::ui
