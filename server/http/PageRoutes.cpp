#include "http/ServerImpl.h"

#include "http/ContentCoding.h"

#include "statement/FormBody.h"
#include "statement/LoadDocumentWriter.h"
#include "statement/Statement.h"

#include "common/CodePage.h"

#include <atomic>
#include <memory>

namespace vcserver {

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
            work = [this,
                    vendor = tavik::common::fromAnsi(std::string_view(value ? value : "", length)),
                    gzip = codings && acceptsGzip(codings)] { return getLoad(vendor, gzip); };
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
    return {200, metrics.render(), kMetricsType};
}

Answer CommentServer::Impl::getLoad(const std::string& vendor, bool takesGzip) {
    try {
        Answer a{200, {}, kXmlType};
        a.document = std::make_shared<const DocumentBytes>(loadDocument(store.load(vendor)));
        a.gzip = takesGzip && a.document->plain().size() >= kGzipFrom;
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
