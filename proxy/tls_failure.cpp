#include "proxy/tls_failure.h"

#include <cstdio>

namespace vellum {

std::string tls_failure_log_line(TlsFailure failure, long error) {
    switch (failure) {
    case TlsFailure::none: return {};
    case TlsFailure::untrusted: return "*** サーバー証明書を信頼できません！ ***\r\n";
    case TlsFailure::expired: return "*** サーバー証明書の有効期限が切れています！ ***\r\n";
    case TlsFailure::wrong_name: return "*** サーバー証明書のホスト名が一致しません！ ***\r\n";
    case TlsFailure::handshake: break;
    }
    if (error == 0) return "*** TLSハンドシェイクに失敗しました！ ***\r\n";
    char line[80];
    std::snprintf(line, sizeof line, "*** TLSハンドシェイクに失敗しました！(%08lX) ***\r\n",
                  static_cast<unsigned long>(error));
    return line;
}

std::string_view tls_failure_reason(TlsFailure failure) {
    switch (failure) {
    case TlsFailure::untrusted: return "untrusted certificate";
    case TlsFailure::expired: return "expired certificate";
    case TlsFailure::wrong_name: return "certificate for another name";
    case TlsFailure::none:
    case TlsFailure::handshake: break;
    }
    return "handshake failed";
}

}  // namespace vellum
