#pragma once

#include <cstddef>
#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "platform/linux/atspi/AtspiBus.h"
#include "platform/linux/atspi/AtspiRoles.h"

namespace larkspire::linux_desktop {

// Elements read together: the first read of an attribute of one of them fetches it for
// all, in one batch of calls on the bus, because a walk asks each of them the same
// questions in turn. A cohort is a generation: the children of its members, as far as
// they are asked for, form the next one, since a breadth-first walk reads a whole
// generation before the next. The first read of a member's role, name or description
// fetches all three, as a walk that reads text asks for them together. Values are read
// once; a failed read is the empty value. Main thread.
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
    // The member's first `atMost` children, in order: the members `first` to
    // `first + count` of the next generation, which also holds the children of the
    // members after it until `atMost` children are gathered in all.
    struct Children {
        std::shared_ptr<AtspiCohort> cohort;
        std::size_t first = 0;
        std::size_t count = 0;
    };
    Children children(std::size_t i, std::size_t atMost);

  private:
    struct Member {
        AtspiAddress address;
        std::optional<RoleName> role;
        bool hasText = false;
        std::optional<std::string> name, description, text;
        std::size_t textFor = 0;  // the `atLeast` the text was read for
        std::optional<std::vector<AtspiAddress>> children;
        // Where its children are in next_, when they are there.
        std::optional<std::pair<std::size_t, std::size_t>> inNext;
    };
    // Role, interfaces, name and description of every member not read yet.
    void fetchBasics();
    void fetchTexts(std::size_t atLeast);
    void fetchChildren(std::size_t from, std::size_t to);

    DBusConnection* connection() const;

    std::vector<Member> members_;
    std::shared_ptr<AtspiCohort> next_;
};

}  // namespace larkspire::linux_desktop
