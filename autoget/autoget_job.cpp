#include "autoget/autoget_job.h"

namespace vellum {

std::optional<std::string> default_restriction(std::string_view url) {
    url = url.substr(0, url.find('#'));
    url = url.substr(0, url.find('?'));
    // Neither "/" nor the cut characters can be the trail byte of a
    // two-byte character, so plain searches are safe here.
    const std::size_t slash = url.rfind('/');
    if (slash == std::string_view::npos) return std::nullopt;
    return std::string(url.substr(0, slash + 1));
}

AutoGetJob make_reserved_job(const AutoGetSettings& defaults, std::string_view saveFolder, std::string_view url,
                             const std::optional<ParsedUrl>& referer, const std::optional<std::string>& userAgent) {
    AutoGetJob job;
    job.saveFolder = std::string(saveFolder);
    job.baseUrl = std::string(url);
    job.updateCheck = static_cast<int>(defaults.recStatusModify);
    job.restrictAll = static_cast<int>(defaults.recStatusLimit);
    job.maxDepth = static_cast<int>(defaults.recStatusLink);
    job.retryCount = static_cast<int>(defaults.recStatusRetry);
    job.retryInterval = static_cast<int>(defaults.recStatusRetryTimer);
    job.pageRequisites = defaults.recStatusRequisites != 0 ? 1 : 0;
    job.restrictions.emplace();
    if (std::optional<std::string> restriction = default_restriction(url)) job.restrictions->append(*restriction);
    job.referer = referer;
    job.userAgent = userAgent;
    return job;
}

LineList entry_list_from_text(std::string_view text) {
    return LineList::split(text, /*strip_line_endings=*/true, /*skip_empty=*/true);
}

std::string entry_list_text(const std::optional<LineList>& entries) {
    return entries ? entries->join(/*add_crlf=*/true) : std::string();
}

}  // namespace vellum
