#pragma once

#include "http/DocumentBytes.h"
#include "store/CommentStore.h"

#include <cstddef>
#include <list>
#include <memory>
#include <mutex>
#include <optional>
#include <string>
#include <unordered_map>

namespace vcserver {

// Built load documents per vendor, with the version each was read at, the least recently
// used dropped first to stay within a byte budget. It never decides freshness itself: the
// caller compares the version with the store's before sending one.
class DocumentCache {
public:
    // What an entry costs beyond its bytes, so that many tiny entries cannot hold unbounded
    // memory in keys and bookkeeping.
    static constexpr std::size_t kEntryFloor = 512;

    struct Entry {
        ChangeVersion version;
        std::shared_ptr<const DocumentBytes> document;
    };

    explicit DocumentCache(std::size_t budget) : budget_(budget) {}

    bool enabled() const { return budget_ > 0; }
    std::optional<Entry> find(const std::string& vendor);
    // Replaces the vendor's entry; a document larger than the whole budget is not kept.
    void keep(const std::string& vendor, const ChangeVersion& version,
              std::shared_ptr<const DocumentBytes> document);
    // Counts the gzip form of the vendor's document once it has been made.
    void packed(const std::string& vendor, const DocumentBytes& document);

    std::size_t bytes() const;
    std::size_t entries() const;

private:
    struct Slot {
        std::string vendor;
        Entry entry;
        std::size_t cost = 0;
        bool packedCounted = false;
    };
    using Order = std::list<Slot>; // most recently used first

    void drop(Order::iterator slot);
    void trim();

    const std::size_t budget_;
    mutable std::mutex mutex_;
    Order order_;
    std::unordered_map<std::string, Order::iterator> byVendor_;
    std::size_t bytes_ = 0;
};

} // namespace vcserver
