#include "http/ServerImpl.h"

#include "http/ContentCoding.h"

#include "statement/FormBody.h"
#include "statement/LoadDocumentWriter.h"
#include "statement/Statement.h"

#include "common/CodePage.h"

#include <atomic>
#include <charconv>
#include <cstdint>
#include <memory>

namespace vcserver {

namespace {

// FNV-1a: ties a tag to its vendor without putting the key's bytes into a header.
std::uint64_t vendorHash(const std::string& vendor) {
    std::uint64_t h = 14695981039346656037ull;
    for (const unsigned char c : vendor) {
        h = (h ^ c) * 1099511628211ull;
    }
    return h;
}

// "D.L.V-HASH" for the plain form, with "-gz" for a client taking gzip, whose body differs.
std::string entityTag(const std::string& vendor, const ChangeVersion& v, bool gzip) {
    char hash[17];
    const auto end = std::to_chars(hash, hash + 16, vendorHash(vendor), 16).ptr;
    return "\"" + std::to_string(v.database) + "." + std::to_string(v.lookups) + "." +
           std::to_string(v.vendor) + "-" + std::string(hash, end) + (gzip ? "-gz" : "") + "\"";
}

// The version a tag of If-None-Match names for this vendor and coding, if any does; "*"
// matches whatever the current version is.
struct TagVersion {
    bool any = false;
    std::optional<ChangeVersion> version;
};

TagVersion taggedVersion(std::string_view header, const std::string& vendor, bool gzip) {
    TagVersion out;
    const std::string suffix = entityTag(vendor, {}, gzip).substr(6); // "-HASH[-gz]\""
    while (!header.empty()) {
        const auto comma = header.find(',');
        std::string_view tag = header.substr(0, comma);
        header = comma == std::string_view::npos ? std::string_view() : header.substr(comma + 1);
        while (!tag.empty() && (tag.front() == ' ' || tag.front() == '\t')) {
            tag.remove_prefix(1);
        }
        while (!tag.empty() && (tag.back() == ' ' || tag.back() == '\t')) {
            tag.remove_suffix(1);
        }
        if (tag == "*") {
            out.any = true;
            return out;
        }
        if (tag.starts_with("W/")) {
            tag.remove_prefix(2); // If-None-Match compares weakly
        }
        if (tag.size() <= suffix.size() + 1 || tag.front() != '"' || !tag.ends_with(suffix)) {
            continue;
        }
        std::string_view numbers = tag.substr(1, tag.size() - 1 - suffix.size());
        std::int64_t parts[3] = {};
        bool read = true;
        for (int i = 0; i < 3 && read; ++i) {
            const auto r =
                std::from_chars(numbers.data(), numbers.data() + numbers.size(), parts[i]);
            read = r.ec == std::errc() &&
                   (i == 2 ? r.ptr == numbers.data() + numbers.size()
                           : r.ptr != numbers.data() + numbers.size() && *r.ptr == '.');
            numbers.remove_prefix(static_cast<std::size_t>(r.ptr - numbers.data()) + (i < 2));
        }
        if (read) {
            out.version = ChangeVersion{parts[0], parts[1], parts[2]};
            return out;
        }
    }
    return out;
}

} // namespace

Answer refusal(int status, std::string text, bool close) {
    return {status, std::move(text), kTextType, close};
}

Answer tooLarge() {
    return refusal(413, "The request body is larger than 1 MiB.", true);
}

// The answer needs the store: a worker makes it while the connection is suspended, and the
// library calls again once the worker resumes it.
MHD_Result CommentServer::Impl::prepare(Connection& c, MHD_Connection* mc,
                                        std::string_view method) {
    if (c.route == Connection::Route::Health) {
        return checkHealth(c, mc); // open to all, as a load balancer or monitor asks it
    }
    std::function<Answer()> work;
    if (c.route == Connection::Route::Metrics) {
        if (!users) {
            return queue(c, mc, metricsAnswer());
        }
        work = [this] { return metricsAnswer(); };
    } else if (method == "POST") {
        if (c.received > kMaxBodyBytes) {
            return queue(c, mc, tooLarge());
        }
        if (c.overBudget) {
            return queue(c, mc, refusal(503, "The server is busy; try again."));
        }
        // Read when the work runs, after the sign-in has named the user.
        work = [this, &c] {
            return postStatement(c.body, c.user.empty() ? c.watched.client : c.user);
        };
    } else {
        const char* value = nullptr;
        std::size_t length = 0;
        if (MHD_lookup_connection_value_n(mc, MHD_GET_ARGUMENT_KIND, "Vendor", 6, &value,
                                          &length) != MHD_YES) {
            work = [] { return refusal(400, "The query must name a Vendor."); };
        } else {
            // The control percent-encodes non-ASCII as Windows-1252 bytes, as in statements.
            const char* codings =
                MHD_lookup_connection_value(mc, MHD_HEADER_KIND, MHD_HTTP_HEADER_ACCEPT_ENCODING);
            const char* tags =
                MHD_lookup_connection_value(mc, MHD_HEADER_KIND, MHD_HTTP_HEADER_IF_NONE_MATCH);
            work = [this,
                    vendor = tavik::common::fromAnsi(std::string_view(value ? value : "", length)),
                    gzip = codings && acceptsGzip(codings),
                    tags = std::string(tags ? tags : "")] { return getLoad(vendor, gzip, tags); };
        }
    }
    if (users) {
        return signIn(c, mc, method == "POST", std::move(work));
    }
    return submit(c, mc, std::move(work), Clock::now());
}

MHD_Result CommentServer::Impl::submit(Connection& c, MHD_Connection* mc,
                                       std::function<Answer()> work, Clock::time_point when) {
    watch.working(c.watched);
    MHD_suspend_connection(mc);
    auto task = [&c, mc, work = std::move(work), handed = std::max(when, Clock::now())] {
        try {
            c.prepared = Clock::now() - handed > kMostWorkerWait
                             ? refusal(503, "The server is busy; try again.")
                             : work();
        } catch (const std::exception& e) {
            c.prepared = refusal(500, std::string("Internal error: ") + e.what() + ".", true);
        }
        MHD_resume_connection(mc);
    };
    const auto stopping = [&c, mc] {
        c.prepared = refusal(503, "The server is stopping; try again.", true);
        MHD_resume_connection(mc);
    };
    bool queued = false;
    if (when <= Clock::now()) {
        queued = workers.submit(std::move(task));
    } else {
        queued = later.at(when, [this, task = std::move(task), stopping]() mutable {
            if (!workers.submit(std::move(task))) {
                stopping();
            }
        });
    }
    if (!queued) {
        stopping();
    }
    return MHD_YES;
}

// One answer wins: the store's or, past the time limit, the time-out's; the other then
// touches nothing, as the connection may be gone. A store that hangs holds a worker but not
// the health check.
MHD_Result CommentServer::Impl::checkHealth(Connection& c, MHD_Connection* mc) {
    auto claimed = std::make_shared<std::atomic<bool>>(false);
    auto answer = [&c, mc, claimed](Answer a) {
        if (!claimed->exchange(true)) {
            c.prepared = std::move(a);
            MHD_resume_connection(mc);
        }
    };
    watch.working(c.watched);
    MHD_suspend_connection(mc);
    const bool queued = workers.submit([this, answer] { answer(health()); });
    later.at(Clock::now() + kHealthTime, [answer] {
        answer(refusal(503, "unavailable: the database did not answer within " +
                                std::to_string(kHealthTime.count() / 1000) + " s\n"));
    });
    if (!queued) {
        answer(refusal(503, "unavailable: the server is stopping\n", true));
    }
    return MHD_YES;
}

// A load of no vendor reads only the two short lookup tables: cheap, yet a real round trip.
Answer CommentServer::Impl::health() {
    try {
        store.load("");
        return {200, "ok\n"};
    } catch (const StoreBusy& e) {
        metrics.storeError(Metrics::StoreError::Busy);
        return refusal(503, "unavailable: " + printable(e.what(), 300) + "\n");
    } catch (const StoreError& e) {
        metrics.storeError(Metrics::StoreError::Failed);
        return refusal(503, "unavailable: database error: " + printable(e.what(), 300) + "\n");
    }
}

Answer CommentServer::Impl::metricsAnswer() const {
    return {200, metrics.render({cache.bytes(), cache.entries()}), kMetricsType};
}

// Every load reads the store's change version, so a kept document or a client's copy is
// used only while nothing it shows has changed, whoever changed it.
Answer CommentServer::Impl::getLoad(const std::string& vendor, bool takesGzip,
                                    const std::string& ifNoneMatch) {
    try {
        const TagVersion tagged = taggedVersion(ifNoneMatch, vendor, takesGzip);
        const std::optional<DocumentCache::Entry> kept =
            cache.enabled() ? cache.find(vendor) : std::nullopt;
        // A stale kept document is about the size of the one that replaces it.
        LoadDocumentWriter writer(kept ? kept->document->plain().size() : 0);
        const LoadOutcome read =
            store.loadChanged(vendor, kept ? std::optional(kept->version) : tagged.version, writer);
        if (read.version && (tagged.any || read.version == tagged.version)) {
            metrics.load(Metrics::Load::Unchanged);
            Answer a{304, {}, kXmlType};
            a.etag = entityTag(vendor, *read.version, takesGzip);
            return a;
        }
        Answer a{200, {}, kXmlType};
        metrics.load(read.read ? Metrics::Load::Built : Metrics::Load::Kept);
        if (!read.read) {
            a.document = kept->document;
        } else {
            const bool anyComment = writer.comments() > 0;
            a.document = std::make_shared<const DocumentBytes>(std::move(writer).finish());
            // A vendor without comments costs one cheap read to answer again; keeping those
            // would let made-up keys push real documents out.
            if (read.version && cache.enabled() && anyComment) {
                cache.keep(vendor, *read.version, a.document);
            }
        }
        if (read.version) {
            a.etag = entityTag(vendor, *read.version, takesGzip);
        }
        a.gzip = takesGzip && a.document->plain().size() >= kGzipFrom;
        if (a.gzip && cache.enabled()) {
            a.document->gzipped();
            cache.packed(vendor, *a.document);
        }
        // Answers wait in memory for slow readers; together they stay within the budget.
        const std::size_t held =
            a.document->plain().size() + (a.gzip ? a.document->gzipped().size() : 0);
        if (!budget.take(held)) {
            return refusal(503, "The server is busy; try again.");
        }
        a.held = held;
        return a;
    } catch (const StoreBusy& e) {
        metrics.storeError(Metrics::StoreError::Busy);
        return refusal(503, e.what());
    } catch (const StoreError& e) {
        metrics.storeError(Metrics::StoreError::Failed);
        return refusal(500, std::string("Database error: ") + e.what() + ".");
    }
}

Answer CommentServer::Impl::postStatement(const std::string& body, const std::string& changedBy) {
    const SqlField field = sqlFieldOf(body);
    if (!field.statement) {
        metrics.statement(Metrics::Statement::Rejected);
        return refusal(400, "Statement refused: " + field.error);
    }
    const ParsedStatement parsed = parseStatement(*field.statement);
    if (!parsed.statement) {
        metrics.statement(Metrics::Statement::Rejected);
        return refusal(400, parsed.error);
    }
    const ExecResult result = store.execute(*parsed.statement, changedBy);
    switch (result.outcome) {
    case ExecResult::Outcome::Done:
        metrics.statement(Metrics::Statement::Done);
        return {200, {}};
    case ExecResult::Outcome::Refused:
        metrics.statement(Metrics::Statement::Refused);
        return refusal(400, "Statement refused: " + result.message);
    case ExecResult::Outcome::Busy:
        metrics.statement(Metrics::Statement::Busy);
        metrics.storeError(Metrics::StoreError::Busy);
        return refusal(503, result.message);
    case ExecResult::Outcome::Failed:
        break;
    }
    metrics.statement(Metrics::Statement::Failed);
    metrics.storeError(Metrics::StoreError::Failed);
    return refusal(500, result.message);
}

} // namespace vcserver
