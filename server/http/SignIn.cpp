#include "http/ServerImpl.h"

#include <cstring>

namespace vcserver {

namespace {

// Without a text, so the control takes a statement refused this way for a failed transfer,
// as it takes any error status with a blank answer.
Answer unauthorised(const Access& access) {
    Answer a{401, {}};
    a.challenge = true;
    a.logReason = access.reason;
    return a;
}

Answer forbidden(const Access& access) {
    return refusal(403, "User " + access.user +
                            " may load comments but not change them: that needs the write role.");
}

// What the request's Authorization header holds. Not the library's Basic reader: it hands
// over C strings, so a password with a zero byte and more after it passed as its first part.
Credentials credentialsOf(MHD_Connection* mc) {
    const char* value = nullptr;
    std::size_t length = 0;
    if (MHD_lookup_connection_value_n(mc, MHD_HEADER_KIND, MHD_HTTP_HEADER_AUTHORIZATION,
                                      std::strlen(MHD_HTTP_HEADER_AUTHORIZATION), &value,
                                      &length) != MHD_YES) {
        value = nullptr;
    }
    return Credentials::fromHeader(value, length);
}

} // namespace

// Credentials accepted before pass at once. Others are checked on a worker, as hashing takes
// a processor for a while; after failures from the client's address, only in their turn.
MHD_Result CommentServer::Impl::signIn(Connection& c, MHD_Connection* mc, bool writes,
                                       std::function<Answer()> work) {
    if (const auto problem = users->refresh()) {
        log.note(*problem);
    }
    const Credentials credentials = credentialsOf(mc);
    if (const auto access = users->recall(credentials)) {
        if (!access->granted) {
            return queue(c, mc, unauthorised(*access));
        }
        c.user = access->user;
        if (writes && access->role != Role::Write) {
            return queue(c, mc, forbidden(*access));
        }
        return submit(c, mc, std::move(work), Clock::now());
    }
    const auto turn = throttle.admit(c.watched.client, Clock::now());
    if (!turn) {
        return queue(c, mc,
                     refusal(429, "Too many failed sign-ins from " + c.watched.client +
                                      "; try again later."));
    }
    auto checked = [this, &c, credentials, writes, work = std::move(work)] {
        const Access access = users->check(credentials);
        if (!access.granted) {
            throttle.failed(c.watched.client, Clock::now());
            return unauthorised(access);
        }
        c.user = access.user;
        if (writes && access.role != Role::Write) {
            return forbidden(access);
        }
        return work();
    };
    return submit(c, mc, std::move(checked), *turn);
}

} // namespace vcserver
