#pragma once

#include "platform/ModalAlert.h"

namespace larkspire::linux_desktop {

// A QMessageBox with the buttons in the given order (the last one also answers Escape),
// run modally; it is raised and takes the keyboard. Main thread; needs a QApplication.
class QtModalAlert : public platform::ModalAlert {
  public:
    std::size_t run(const platform::AlertContent& content) override;
};

}  // namespace larkspire::linux_desktop
