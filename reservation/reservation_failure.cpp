#include "reservation/reservation_failure.h"

namespace vellum {

const char* reservation_failure_text(ReservationFailure failure) {
    switch (failure) {
        case ReservationFailure::kNotInstalled: return "Vellum がインストールされていません";
        case ReservationFailure::kNotRunning: return "Vellum が起動されていません";
        case ReservationFailure::kNoUrl: return "URL が未指定です";
        case ReservationFailure::kNoUserAgent: return "UserAgent が未指定です";
        case ReservationFailure::kNoMemory: return "メモリを確保できません";
        case ReservationFailure::kNoSocket: return "ソケットが作成できません";
        case ReservationFailure::kCannotConnect: return "Vellum に接続できません";
        case ReservationFailure::kCannotSend: return "Vellum に送信できません";
    }
    return "";
}

}  // namespace vellum
