#include "http/DocumentCache.h"

namespace vcserver {

std::optional<DocumentCache::Entry> DocumentCache::find(const std::string& vendor) {
    const std::lock_guard lock(mutex_);
    const auto found = byVendor_.find(vendor);
    if (found == byVendor_.end()) {
        return std::nullopt;
    }
    order_.splice(order_.begin(), order_, found->second);
    return found->second->entry;
}

void DocumentCache::keep(const std::string& vendor, const ChangeVersion& version,
                         std::shared_ptr<const DocumentBytes> document) {
    const std::size_t cost = document->plain().size() + vendor.size() + kEntryFloor;
    if (cost > budget_) {
        return;
    }
    const std::lock_guard lock(mutex_);
    if (const auto found = byVendor_.find(vendor); found != byVendor_.end()) {
        drop(found->second);
    }
    order_.push_front({vendor, {version, std::move(document)}, cost});
    byVendor_.emplace(vendor, order_.begin());
    bytes_ += cost;
    trim();
}

void DocumentCache::packed(const std::string& vendor, const DocumentBytes& document) {
    const std::lock_guard lock(mutex_);
    const auto found = byVendor_.find(vendor);
    if (found == byVendor_.end() || found->second->entry.document.get() != &document ||
        found->second->packedCounted) {
        return;
    }
    const std::size_t more = document.gzipped().size();
    found->second->cost += more;
    found->second->packedCounted = true;
    bytes_ += more;
    trim();
}

std::size_t DocumentCache::bytes() const {
    const std::lock_guard lock(mutex_);
    return bytes_;
}

std::size_t DocumentCache::entries() const {
    const std::lock_guard lock(mutex_);
    return order_.size();
}

void DocumentCache::drop(Order::iterator slot) {
    bytes_ -= slot->cost;
    byVendor_.erase(slot->vendor);
    order_.erase(slot);
}

void DocumentCache::trim() {
    while (bytes_ > budget_ && !order_.empty()) {
        drop(std::prev(order_.end()));
    }
}

} // namespace vcserver
