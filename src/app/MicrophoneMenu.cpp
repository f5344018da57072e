#include "app/MicrophoneMenu.h"

#include <algorithm>

#include "util/Preferences.h"

namespace larkspire {

MicrophoneMenu::MicrophoneMenu(Services services)
    : s_(services), menu_(std::make_shared<platform::Menu>()) {
    rebuild();
}

void MicrophoneMenu::start() {
    list();
    timer_ = s_.scheduler.repeat(platform::Duration(kRefreshSeconds),
                                 lifetime_.guard([this] { list(); }));
}

void MicrophoneMenu::list() {
    s_.scheduler.runInBackground(
        platform::Priority::utility,
        [&input = s_.input, &scheduler = s_.scheduler,
         done = lifetime_.guard([this](std::vector<platform::AudioSource> sources) {
             listed(std::move(sources));
         })]() mutable {
            auto sources = input.sources();
            scheduler.post(
                [done, sources = std::move(sources)]() mutable { done(std::move(sources)); });
        });
}

void MicrophoneMenu::listed(std::vector<platform::AudioSource> sources) {
    listedOnce_ = true;
    if (sources == sources_) {
        return;
    }
    sources_ = std::move(sources);
    rebuild();
}

bool MicrophoneMenu::offers(const std::string& name) const {
    return std::any_of(sources_.begin(), sources_.end(),
                       [&](const auto& source) { return source.name == name; });
}

std::string MicrophoneMenu::chosen() const {
    return s_.defaults.stringValue(defaults::microphoneSource).value_or("");
}

void MicrophoneMenu::rebuild() {
    menu_->removeAll();
    const std::string current = chosen();
    auto item = [this](const std::string& title, const std::string& name, bool checked) {
        auto entry =
            platform::MenuItem::make(title, lifetime_.guard([this, name] { choose(name); }));
        entry->setCheckable(true);
        entry->setChecked(checked);
        menu_->append(entry);
    };
    // A chosen device that is gone records from the default: that is what is checked.
    item("System default", "", current.empty() || !offers(current));
    for (const auto& source : sources_) {
        item(source.description.empty() ? source.name : source.description, source.name,
             source.name == current);
    }
}

void MicrophoneMenu::choose(const std::string& name) {
    if (name.empty()) {
        s_.defaults.remove(defaults::microphoneSource);
    } else {
        s_.defaults.setString(defaults::microphoneSource, name);
    }
    goneNoticeFor_.clear();
    rebuild();
}

std::optional<std::string> MicrophoneMenu::applyChoice() {
    const std::string current = chosen();
    // Before the first list the device is taken on trust: the start says if it fails.
    if (current.empty() || offers(current) || !listedOnce_) {
        s_.input.setSource(current);
        goneNoticeFor_.clear();
        return std::nullopt;
    }
    s_.input.setSource("");
    if (goneNoticeFor_ == current) {
        return std::nullopt;
    }
    goneNoticeFor_ = current;
    return "Chosen microphone not found · listening with the system default";
}

}  // namespace larkspire
