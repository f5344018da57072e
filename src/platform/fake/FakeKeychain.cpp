#include "platform/fake/FakeKeychain.h"

namespace larkspire::fake {

using platform::KeychainCopyResult;
using platform::KeychainItemId;
using platform::KeychainStatus;

KeychainStatus FakeKeychain::updateItem(const KeychainItemId& id, const std::string& data) {
    std::lock_guard lock(mutex_);
    calls_.push_back("update");
    if (unavailable_) {
        return KeychainStatus::notAvailable;
    }
    auto it = items_.find(keyOf(id));
    if (it == items_.end()) {
        return KeychainStatus::itemNotFound;
    }
    it->second = data;
    return KeychainStatus::success;
}

KeychainStatus FakeKeychain::addItem(const KeychainItemId& id, const std::string& data) {
    std::lock_guard lock(mutex_);
    calls_.push_back("add");
    if (unavailable_) {
        return KeychainStatus::notAvailable;
    }
    auto [it, inserted] = items_.emplace(keyOf(id), data);
    return inserted ? KeychainStatus::success : KeychainStatus::duplicateItem;
}

KeychainCopyResult FakeKeychain::copyItem(const KeychainItemId& id) {
    std::lock_guard lock(mutex_);
    calls_.push_back("copy");
    if (unavailable_) {
        return {KeychainStatus::notAvailable, std::nullopt};
    }
    auto it = items_.find(keyOf(id));
    if (it == items_.end()) {
        return {KeychainStatus::itemNotFound, std::nullopt};
    }
    return {KeychainStatus::success, it->second};
}

KeychainStatus FakeKeychain::deleteItem(const KeychainItemId& id) {
    std::lock_guard lock(mutex_);
    calls_.push_back("delete");
    if (unavailable_) {
        return KeychainStatus::notAvailable;
    }
    return items_.erase(keyOf(id)) > 0 ? KeychainStatus::success : KeychainStatus::itemNotFound;
}

void FakeKeychain::setUnavailable(bool unavailable) {
    std::lock_guard lock(mutex_);
    unavailable_ = unavailable;
}

void FakeKeychain::put(const KeychainItemId& id, std::string data) {
    std::lock_guard lock(mutex_);
    items_[keyOf(id)] = std::move(data);
}

std::optional<std::string> FakeKeychain::data(const KeychainItemId& id) const {
    std::lock_guard lock(mutex_);
    auto it = items_.find(keyOf(id));
    if (it == items_.end()) {
        return std::nullopt;
    }
    return it->second;
}

size_t FakeKeychain::itemCount() const {
    std::lock_guard lock(mutex_);
    return items_.size();
}

std::vector<std::string> FakeKeychain::calls() const {
    std::lock_guard lock(mutex_);
    return calls_;
}

void FakeKeychain::clearCalls() {
    std::lock_guard lock(mutex_);
    calls_.clear();
}

}  // namespace larkspire::fake
