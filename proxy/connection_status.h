// The status word every connection ends with. The body relay and the header
// send report in the same words, so their results become the connection's
// status as they stand. The numbers are fixed: the crawler is told them
// (CRM_FETCH_FAILED) and the request tree shows any non-zero one as an
// abnormal end. Portable; any thread.
#pragma once

namespace vellum {

enum class ConnectionStatus : int {
    ok = 0,
    socket_failed = 1,  // socket or protocol failure
    aborted = 100,      // CTM_ABORT was seen
    internal = 1000,    // parse or build failure, a crawler request offline
    read_failed = 1001,   // reading the page file failed
    write_failed = 1002,  // writing a file failed (the browser still got the data)
    not_http = 1003,      // the target is neither an "http://" nor an "https://" URL
};

constexpr int status_word(ConnectionStatus status) {
    return static_cast<int>(status);
}

}  // namespace vellum
