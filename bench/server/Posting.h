#pragma once

#include "ServerTestSupport.h"

#include <httplib.h>

#include <algorithm>
#include <atomic>
#include <chrono>
#include <string>
#include <thread>
#include <vector>

// What the server benchmarks share: clients posting statements at once, and percentiles.
namespace vcbench {

// The value below which the share p of the values lies; 0 for none.
inline double percentile(std::vector<double> values, double p) {
    if (values.empty())
        return 0;
    std::sort(values.begin(), values.end());
    return values[std::min(values.size() - 1, static_cast<std::size_t>(p * values.size()))];
}

// `clients` threads, each posting `statements` statements (make(client, i)) as the control
// does, over one kept-alive connection that connect(client) opens; returns every request's
// latency in milliseconds. An answer other than a blank 200 counts as a failure.
template <typename Connect, typename MakeStatement>
std::vector<double> postConcurrently(int clients, int statements, Connect connect,
                                     MakeStatement make, std::atomic<int>& failures) {
    using Clock = std::chrono::steady_clock;
    std::vector<std::vector<double>> perClient(static_cast<std::size_t>(clients));
    std::vector<std::thread> threads;
    for (int c = 0; c < clients; ++c) {
        threads.emplace_back([&, c] {
            httplib::Client client = connect(c);
            client.set_keep_alive(true);
            client.set_tcp_nodelay(true); // as libcurl does
            for (int i = 0; i < statements; ++i) {
                const std::string body = "SQL=" + vctest::formEncode(make(c, i));
                const auto start = Clock::now();
                const auto res = client.Post("/VendorCommentLOAD.asp", body,
                                             "application/x-www-form-urlencoded");
                perClient[static_cast<std::size_t>(c)].push_back(
                    std::chrono::duration<double, std::milli>(Clock::now() - start).count());
                if (!res || res->status != 200 || !res->body.empty())
                    ++failures;
            }
        });
    }
    for (auto& t : threads)
        t.join();
    std::vector<double> all;
    for (const auto& v : perClient)
        all.insert(all.end(), v.begin(), v.end());
    return all;
}

} // namespace vcbench
