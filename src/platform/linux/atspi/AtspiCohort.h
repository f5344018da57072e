#pragma once

#include <cstddef>
#include <optional>
#include <string>
#include <vector>

#include "platform/linux/atspi/AtspiBus.h"
#include "platform/linux/atspi/AtspiRoles.h"

namespace larkspire::desktop {

// Siblings read together: the first read of an attribute of one of them fetches it for
// all, in one batch of calls on the bus, because a walk asks every sibling the same
// questions in turn. Values are read once; a failed read is the empty value. Main thread.
class AtspiCohort {
  public:
    // Time-out of each batch (its calls wait together).
    static constexpr int kTimeoutMs = 250;

    explicit AtspiCohort(std::vector<AtspiAddress> members);

    std::size_t size() const { return members_.size(); }
    const AtspiAddress& address(std::size_t i) const { return members_[i].address; }

    const RoleName& role(std::size_t i);
    const std::string& name(std::size_t i);
    const std::string& description(std::size_t i);
    // The text of the member's text interface, at least its first `atLeast` characters
    // (the empty text without one). Read again only when more is asked for.
    const std::string& text(std::size_t i, std::size_t atLeast);
    // The member's children, in order.
    const std::vector<AtspiAddress>& children(std::size_t i);

  private:
    struct Member {
        AtspiAddress address;
        std::optional<RoleName> role;
        bool hasText = false;
        std::optional<std::string> name, description, text;
        std::size_t textFor = 0;  // the `atLeast` the text was read for
        std::optional<std::vector<AtspiAddress>> children;
    };
    void fetchRoles();
    void fetchProperty(std::optional<std::string> Member::*field, const char* property);
    void fetchTexts(std::size_t atLeast);
    void fetchChildren();

    DBusConnection* connection() const;

    std::vector<Member> members_;
};

}  // namespace larkspire::desktop
