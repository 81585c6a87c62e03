// Why an https:// server was refused, and how the refusal is told: the
// connection log's error line and the reason on the browser's error page
// (proxy/proxy_answers.h). Pure and portable; any thread.
#pragma once

#include <string>
#include <string_view>

namespace vellum {

enum class TlsFailure {
    none,
    handshake,   // the handshake failed, was cut off, or the server did not answer in time
    untrusted,   // the chain does not end at a trusted root, or is broken
    expired,     // a certificate of the chain is outside its validity period
    wrong_name,  // the certificate is not issued for the host asked for
};

// The error line of the connection log ("*** ... ***\r\n"); a failed
// handshake names its SSPI or socket code when there is one (`error` non-zero).
std::string tls_failure_log_line(TlsFailure failure, long error);
// The reason on the error page: "untrusted certificate", "expired
// certificate", "certificate for another name" or "handshake failed".
std::string_view tls_failure_reason(TlsFailure failure);

}  // namespace vellum
