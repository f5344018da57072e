#pragma once

#include <memory>
#include <optional>
#include <set>
#include <string>

#include "platform/Clipboard.h"
#include "platform/linux/wayland/WaylandConnection.h"

struct zwlr_data_control_device_v1;
struct zwlr_data_control_source_v1;
struct zwlr_data_control_offer_v1;

namespace larkspire::linux_desktop {

// The seat's clipboard and primary selection through data control
// (zwlr_data_control_manager_v1), which lets a client without a focused window own and
// read them. The agent serves its text to every reader until another client replaces it.
// Main thread.
class DataControlClipboard : public platform::Clipboard {
  public:
    explicit DataControlClipboard(WaylandConnection& connection);
    ~DataControlClipboard() override;

    bool available() const { return device_ != nullptr; }

    void setText(const std::string& text) override;
    void setPrimaryText(const std::string& text) override;
    std::optional<std::string> text() override;

  private:
    struct Source;
    struct Offer;
    struct DestroyDevice {
        void operator()(zwlr_data_control_device_v1* device) const;
    };

    std::unique_ptr<Source> makeSource(const std::string& text);
    static void onDataOffer(void* self, zwlr_data_control_device_v1*,
                            zwlr_data_control_offer_v1* offer);
    static void onSelection(void* self, zwlr_data_control_device_v1*,
                            zwlr_data_control_offer_v1* offer);
    static void onPrimarySelection(void* self, zwlr_data_control_device_v1*,
                                   zwlr_data_control_offer_v1* offer);
    static void onFinished(void* self, zwlr_data_control_device_v1*);

    WaylandConnection& connection_;
    std::unique_ptr<zwlr_data_control_device_v1, DestroyDevice> device_;
    // What the agent serves, until the compositor cancels it.
    std::unique_ptr<Source> clipboard_;
    std::unique_ptr<Source> primary_;
    // The offer introduced last, and the one that is the clipboard now.
    std::unique_ptr<Offer> introduced_;
    std::unique_ptr<Offer> selection_;
    std::unique_ptr<Offer> primarySelection_;
};

}  // namespace larkspire::linux_desktop
