#include "platform/linux/atspi/AtspiCohort.h"

#include <atspi/atspi-constants.h>

#include <algorithm>
#include <limits>

#include "util/Text.h"

namespace larkspire::linux_desktop {
namespace {

constexpr const char* kAccessible = "org.a11y.atspi.Accessible";
constexpr const char* kText = "org.a11y.atspi.Text";
constexpr const char* kNullPath = "/org/a11y/atspi/null";

bool hasState(const std::vector<std::uint32_t>& words, AtspiStateType state) {
    const auto bit = static_cast<std::size_t>(state);
    return bit / 32 < words.size() && (words[bit / 32] >> (bit % 32)) & 1u;
}

// Offsets count code points; a user-perceived character is one or more of them. Asking
// for a little more than `atLeast` gets enough of nearly every text in one call.
std::int32_t firstRequest(std::size_t atLeast) {
    return static_cast<std::int32_t>(std::min<std::size_t>(
        atLeast + atLeast / 8 + 16, std::numeric_limits<std::int32_t>::max() / 2));
}

}  // namespace

AtspiCohort::AtspiCohort(std::vector<AtspiAddress> members) {
    members_.reserve(members.size());
    for (auto& address : members) {
        members_.push_back(Member{std::move(address)});
    }
}

DBusConnection* AtspiCohort::connection() const {
    return members_.empty() ? nullptr : members_.front().address.connection.get();
}

const RoleName& AtspiCohort::role(std::size_t i) {
    if (!members_[i].role) {
        fetchBasics();
    }
    return *members_[i].role;
}

const std::string& AtspiCohort::name(std::size_t i) {
    if (!members_[i].name) {
        fetchBasics();
    }
    return *members_[i].name;
}

const std::string& AtspiCohort::description(std::size_t i) {
    if (!members_[i].description) {
        fetchBasics();
    }
    return *members_[i].description;
}

const std::string& AtspiCohort::text(std::size_t i, std::size_t atLeast) {
    if (!members_[i].text || members_[i].textFor < atLeast) {
        fetchTexts(atLeast);
    }
    return *members_[i].text;
}

AtspiCohort::Children AtspiCohort::children(std::size_t i, std::size_t atMost) {
    if (atMost == 0) {
        return {};
    }
    if (const auto& m = members_[i]; next_ && m.inNext) {
        const auto [first, count] = *m.inNext;
        if (count >= atMost || count == m.children->size()) {
            return {next_, first, std::min(count, atMost)};
        }
    }
    // A new generation from this member on. Its siblings' children are fetched in
    // growing batches, so a walk that stops early has not asked for many more.
    std::vector<AtspiAddress> kids;
    for (auto& m : members_) {
        m.inNext.reset();
    }
    for (std::size_t from = i, batch = 8; from < members_.size() && kids.size() < atMost;
         from += batch, batch *= 2) {
        const std::size_t to = std::min(members_.size(), from + batch);
        fetchChildren(from, to);
        for (std::size_t k = from; k < to && kids.size() < atMost; ++k) {
            const auto& all = *members_[k].children;
            const std::size_t take = std::min(all.size(), atMost - kids.size());
            members_[k].inNext.emplace(kids.size(), take);
            kids.insert(kids.end(), all.begin(), all.begin() + static_cast<std::ptrdiff_t>(take));
        }
    }
    next_ = std::make_shared<AtspiCohort>(std::move(kids));
    const auto [first, count] = *members_[i].inNext;
    return {next_, first, count};
}

void AtspiCohort::fetchChildren(std::size_t from, std::size_t to) {
    std::vector<std::size_t> asked;
    std::vector<MessagePtr> requests;
    for (std::size_t i = from; i < to; ++i) {
        if (!members_[i].children) {
            asked.push_back(i);
            requests.push_back(atspibus::call(members_[i].address, kAccessible, "GetChildren"));
        }
    }
    auto replies = atspibus::sendAll(connection(), std::move(requests), kTimeoutMs);
    for (std::size_t k = 0; k < asked.size(); ++k) {
        Member& m = members_[asked[k]];
        auto references = atspibus::readReferences(replies[k].get());
        if (!replies[k]) {
            // A toolkit without GetChildren: the count, then each child.
            const auto count = atspibus::readVariantInt(
                atspibus::send(connection(),
                               atspibus::property(m.address, kAccessible, "ChildCount"), kTimeoutMs)
                    .get());
            std::vector<MessagePtr> each;
            for (std::int32_t c = 0; count && c < *count; ++c) {
                each.push_back(atspibus::call(m.address, kAccessible, "GetChildAtIndex", c));
            }
            for (auto& reply : atspibus::sendAll(connection(), std::move(each), kTimeoutMs)) {
                for (auto& r : atspibus::readReferences(reply.get())) {
                    references.push_back(std::move(r));
                }
            }
        }
        std::vector<AtspiAddress> kids;
        for (auto& [name, path] : references) {
            if (path.empty() || path == kNullPath) {
                continue;
            }
            // Children of an application live on its connection, under its name.
            kids.push_back(AtspiAddress{m.address.connection,
                                        name.empty() ? m.address.name : std::move(name),
                                        std::move(path)});
        }
        m.children = std::move(kids);
    }
}

void AtspiCohort::fetchBasics() {
    constexpr std::size_t kAsked = 4;
    std::vector<std::size_t> asked;
    std::vector<MessagePtr> requests;
    for (std::size_t i = 0; i < members_.size(); ++i) {
        const AtspiAddress& a = members_[i].address;
        if (!members_[i].role) {
            asked.push_back(i);
            requests.push_back(atspibus::call(a, kAccessible, "GetRole"));
            requests.push_back(atspibus::call(a, kAccessible, "GetInterfaces"));
            requests.push_back(atspibus::property(a, kAccessible, "Name"));
            requests.push_back(atspibus::property(a, kAccessible, "Description"));
        }
    }
    auto replies = atspibus::sendAll(connection(), std::move(requests), kTimeoutMs);
    // Texts are fields or areas by their state: asked only of texts.
    std::vector<std::size_t> texts;
    for (std::size_t k = 0; k < asked.size(); ++k) {
        Member& m = members_[asked[k]];
        const auto* reply = &replies[kAsked * k];
        const auto role = atspibus::readUint(reply[0].get());
        const auto interfaces = atspibus::readStrings(reply[1].get());
        m.hasText = std::find(interfaces.begin(), interfaces.end(), kText) != interfaces.end();
        m.name = atspibus::readVariantString(reply[2].get()).value_or("");
        m.description = atspibus::readVariantString(reply[3].get()).value_or("");
        if (!role) {
            m.role.emplace();
        } else if (*role == ATSPI_ROLE_TEXT) {
            texts.push_back(asked[k]);
            requests.push_back(atspibus::call(m.address, kAccessible, "GetState"));
        } else {
            m.role = roleNameOf(static_cast<AtspiRole>(*role), true);
        }
    }
    auto states = atspibus::sendAll(connection(), std::move(requests), kTimeoutMs);
    for (std::size_t k = 0; k < texts.size(); ++k) {
        // A text that does not say it has several lines is a field (Qt's line edits say
        // neither).
        const bool multiLine =
            hasState(atspibus::readStates(states[k].get()), ATSPI_STATE_MULTI_LINE);
        members_[texts[k]].role = roleNameOf(ATSPI_ROLE_TEXT, !multiLine);
    }
}

void AtspiCohort::fetchTexts(std::size_t atLeast) {
    // Only members with a text interface are asked (others complain in their own log),
    // and the length first: asking past the end of a text crashes some toolkits' labels.
    if (std::any_of(members_.begin(), members_.end(), [](const Member& m) { return !m.role; })) {
        fetchBasics();
    }
    std::vector<std::size_t> asked;
    std::vector<MessagePtr> requests;
    for (std::size_t i = 0; i < members_.size(); ++i) {
        Member& m = members_[i];
        if (m.text && m.textFor >= atLeast) {
            continue;
        }
        m.textFor = atLeast;
        if (!m.hasText) {
            m.text.emplace();
        } else {
            asked.push_back(i);
            requests.push_back(atspibus::property(members_[i].address, kText, "CharacterCount"));
        }
    }
    auto counts = atspibus::sendAll(connection(), std::move(requests), kTimeoutMs);
    std::vector<std::size_t> reading;
    std::vector<std::int32_t> ends;
    requests.clear();
    for (std::size_t k = 0; k < asked.size(); ++k) {
        const auto count = atspibus::readVariantInt(counts[k].get()).value_or(0);
        if (count <= 0) {
            members_[asked[k]].text.emplace();
            continue;
        }
        const std::int32_t end = std::min(count, firstRequest(atLeast));
        reading.push_back(asked[k]);
        ends.push_back(end < count ? end : -1);
        requests.push_back(
            atspibus::call(members_[asked[k]].address, kText, "GetText", 0, std::min(count, end)));
    }
    auto texts = atspibus::sendAll(connection(), std::move(requests), kTimeoutMs);
    for (std::size_t k = 0; k < reading.size(); ++k) {
        std::string text = atspibus::readString(texts[k].get()).value_or("");
        // Long texts of many combining characters: more, one member at a time.
        for (std::int32_t end = ends[k]; end > 0 && text::characterCount(text) <= atLeast;) {
            end = end > std::numeric_limits<std::int32_t>::max() / 2 ? -1 : end * 2;
            auto count = atspibus::readVariantInt(
                atspibus::send(
                    connection(),
                    atspibus::property(members_[reading[k]].address, kText, "CharacterCount"),
                    kTimeoutMs)
                    .get());
            if (!count) {
                break;
            }
            const std::int32_t stop = end < 0 ? *count : std::min(end, *count);
            text = atspibus::readString(atspibus::send(connection(),
                                                       atspibus::call(members_[reading[k]].address,
                                                                      kText, "GetText", 0, stop),
                                                       kTimeoutMs)
                                            .get())
                       .value_or("");
            if (stop == *count) {
                break;
            }
        }
        members_[reading[k]].text = std::move(text);
    }
}

}  // namespace larkspire::linux_desktop
