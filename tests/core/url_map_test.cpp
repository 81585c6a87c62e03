#include "store/url_map.h"

#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <map>
#include <random>
#include <set>
#include <string>
#include <vector>

#include "store/text_codec.h"
#include "tests/core/path_check.h"

namespace vellum {
namespace {

using ::testing::ElementsAre;

ParsedUrl http_url(std::string host, std::string path,
                   std::optional<std::string> query = std::nullopt,
                   std::optional<std::string> port = std::nullopt) {
    ParsedUrl url;
    url.scheme = "http";
    url.host = std::move(host);
    url.path = std::move(path);
    url.query = std::move(query);
    url.port = std::move(port);
    return url;
}

std::string relative(const ParsedUrl& url) {
    return url_relative_file_path(url).value_or("<none>");
}

std::string guarded(std::string element) {
    guard_file_element(element);
    return element;
}

constexpr char kSaveFolder[] = "C:\\save";

TEST(RelativeFilePath, ExampleTable) {
    EXPECT_EQ(relative(http_url("server", "/")), "server\\index.html");
    EXPECT_EQ(relative(http_url("server", "/dir/")), "server\\dir\\index.html");
    EXPECT_EQ(relative(http_url("server", "/dir/page.html")), "server\\dir\\page.html");
    EXPECT_EQ(relative(http_url("server", "/a b/%7Euser/x.gif")), "server\\a b\\~user\\x.gif");
    EXPECT_EQ(relative(http_url("server", "/cgi-bin/find.cgi", "q=a+b&x=%2F")),
              "server\\cgi-bin\\find.cgi%3Fq=a b&x=%2F");
    EXPECT_EQ(relative(http_url("server", "/dir/", "page=2")), "server\\dir\\index.html%3Fpage=2");
    EXPECT_EQ(relative(http_url("server", "/a//b")), "server\\a\\\\b");
}

TEST(RelativeFilePath, OnlyLowerCaseHttpWithHostAndPathHasAFile) {
    ParsedUrl upper = http_url("server", "/");
    upper.scheme = "HTTP";
    EXPECT_FALSE(url_relative_file_path(upper));
    ParsedUrl ftp = http_url("server", "/");
    ftp.scheme = "ftp";
    EXPECT_FALSE(url_relative_file_path(ftp));
    ParsedUrl no_scheme = http_url("server", "/");
    no_scheme.scheme.reset();
    EXPECT_FALSE(url_relative_file_path(no_scheme));
    ParsedUrl no_host = http_url("server", "/");
    no_host.host.reset();
    EXPECT_FALSE(url_relative_file_path(no_host));
    ParsedUrl no_path = http_url("server", "/");
    no_path.path.reset();
    EXPECT_FALSE(url_relative_file_path(no_path));
}

ParsedUrl https_url(std::string host, std::string path, std::optional<std::string> query = std::nullopt,
                    std::optional<std::string> port = std::nullopt) {
    ParsedUrl url = http_url(std::move(host), std::move(path), std::move(query), std::move(port));
    url.scheme = "https";
    return url;
}

TEST(HttpsHostElement, HttpsPagesLiveUnderTheMarkedHostElement) {
    EXPECT_EQ(relative(https_url("server", "/")), "server%https\\index.html");
    EXPECT_EQ(relative(https_url("server", "/dir/page.html", "q=a+b")), "server%https\\dir\\page.html%3Fq=a b");
    EXPECT_EQ(relative(https_url("server", "/", std::nullopt, "8443")), "server%3A8443%https\\index.html");
    // Upper-case letters are another scheme, as for http.
    ParsedUrl upper = https_url("server", "/");
    upper.scheme = "HTTPS";
    EXPECT_FALSE(url_relative_file_path(upper));
    // The host element is guarded whole: a device name before a dot stays guarded.
    EXPECT_EQ(relative(https_url("nul.example", "/")), "nu%6C.example%https\\index.html");
}

// No http:// URL, however its host is spelled, reaches an https:// host
// element, and the two schemes of one host never share a file.
TEST(HttpsHostElement, NoHttpUrlReachesAnHttpsElement) {
    const std::vector<std::string> hosts = {"server", "server%https", "server%25https", "server%2568ttps",
                                            "https%3A%2F%2Fserver", "server%3A443", "%68ttps", "server%",
                                            "SERVER", "server.", "con"};
    std::set<std::string> http_elements;
    std::set<std::string> https_elements;
    for (const std::string& host : hosts) {
        for (const std::optional<std::string>& port : {std::optional<std::string>(), std::optional<std::string>("443")}) {
            const std::string plain = relative(http_url(host, "/a", std::nullopt, port));
            const std::string secure = relative(https_url(host, "/a", std::nullopt, port));
            ASSERT_NE(plain, "<none>") << host;
            ASSERT_NE(secure, "<none>") << host;
            http_elements.insert(plain.substr(0, plain.find('\\')));
            https_elements.insert(secure.substr(0, secure.find('\\')));
            EXPECT_NE(plain, secure);
        }
    }
    for (const std::string& element : https_elements) EXPECT_EQ(http_elements.count(element), 0u) << element;

    // Random hosts: an http element never holds "%" before anything but
    // two upper-case hexadecimal digits, so never "%h".
    static constexpr char kAlphabet[] = {'%', 'h', 't', 'p', 's', '2', '5', '6', '8', 'A', 'F', '.', ':', 'x'};
    std::mt19937 random(20261209);
    std::uniform_int_distribution<std::size_t> pick(0, sizeof kAlphabet - 1);
    std::uniform_int_distribution<int> length(1, 10);
    for (int round = 0; round < 5000; ++round) {
        std::string host;
        for (int i = length(random); i > 0; --i) host += kAlphabet[pick(random)];
        const auto plain = url_relative_file_path(http_url(host, "/"));
        if (!plain) continue;
        EXPECT_EQ(plain->find(kHttpsHostMark), std::string::npos) << host;
        const auto path = url_store_path(kSaveFolder, https_url(host, "/" + host));
        if (path) {
            EXPECT_EQ(test::store_path_fault(kSaveFolder, *path), "") << *path;
        }
    }
}

TEST(RelativeFilePath, PlusIsASpaceOnlyInTheQuery) {
    EXPECT_EQ(relative(http_url("server", "/a+b/c+d", "x=a+b")), "server\\a+b\\c+d%3Fx=a b");
}

TEST(RelativeFilePath, PortIsPartOfTheHostElement) {
    EXPECT_EQ(relative(http_url("server", "/", std::nullopt, "80")), "server%3A80\\index.html");
    EXPECT_EQ(relative(http_url("server", "/x", std::nullopt, "8080")), "server%3A8080\\x");
}

TEST(RelativeFilePath, DecodingBeforeEscapingJoinsSpellingsAndKeepsSlashesInside) {
    EXPECT_EQ(relative(http_url("server", "/%41/b")), relative(http_url("server", "/A/b")));
    EXPECT_EQ(relative(http_url("server", "/a%2Fb/c")), "server\\a%2Fb\\c");
    EXPECT_EQ(relative(http_url("server", "/a:b*c|d")), "server\\a%3Ab%2Ac%7Cd");
    EXPECT_EQ(relative(http_url("%73erver", "/")), "server\\index.html");
}

TEST(RelativeFilePath, LetterCaseIsKept) {
    EXPECT_EQ(relative(http_url("Server", "/A.html")), "Server\\A.html");
    EXPECT_NE(relative(http_url("server", "/A.html")), relative(http_url("server", "/a.html")));
}

TEST(RelativeFilePath, ShiftJisSegmentEncodedOrNot) {
    // 表 (0x95 0x5C) ends in the backslash code; it must stay one character.
    EXPECT_EQ(relative(http_url("server", "/表/x")), "server\\表\\x");
    EXPECT_EQ(relative(http_url("server", "/%95%5C/x")), "server\\表\\x");
    EXPECT_EQ(relative(http_url("server", "/%95%5c")), "server\\表");
    EXPECT_EQ(relative(http_url("server", "/%B1")), "server\\%B1");
}

TEST(RelativeFilePath, EmptyPathGivesTheHostElementAlone) {
    EXPECT_EQ(relative(http_url("server", "")), "server");
}

TEST(RelativeFilePath, ElementsThatDecodeToNothing) {
    EXPECT_FALSE(url_relative_file_path(http_url("", "/x")));
    EXPECT_FALSE(url_relative_file_path(http_url("%00", "/x")));
    EXPECT_FALSE(url_relative_file_path(http_url("server", "/a/%00")));
    EXPECT_EQ(relative(http_url("server", "/a/%00", "q")), "server\\a\\%3Fq");
    EXPECT_EQ(relative(http_url("server", "/a/b%00c")), "server\\a\\b");
    EXPECT_EQ(relative(http_url("server", "/%00/x")), "server\\\\x");
}

TEST(RelativeFilePath, PathWithoutLeadingSlashHasNoFile) {
    EXPECT_FALSE(url_relative_file_path(http_url("server", "x/y")));
}

TEST(StorePath, FolderWithOrWithoutFinalBackslash) {
    const ParsedUrl url = http_url("server", "/dir/");
    EXPECT_EQ(url_store_path("C:\\save", url).value_or(""), "C:\\save\\server\\dir\\index.html");
    EXPECT_EQ(url_store_path("C:\\save\\", url).value_or(""), "C:\\save\\server\\dir\\index.html");
    EXPECT_EQ(url_store_path("C:\\", url).value_or(""), "C:\\server\\dir\\index.html");
}

TEST(StorePath, TrailByteBackslashIsNotTheFoldersEnd) {
    EXPECT_EQ(url_store_path("C:\\表", http_url("server", "/")).value_or(""),
              "C:\\表\\server\\index.html");
}

TEST(StorePath, RefusesFoldersItCannotJoinSafely) {
    EXPECT_FALSE(url_store_path("", http_url("server", "/")));
    EXPECT_FALSE(url_store_path("C:\\save\x81", http_url("server", "/")));
    ParsedUrl ftp = http_url("server", "/");
    ftp.scheme = "ftp";
    EXPECT_FALSE(url_store_path(kSaveFolder, ftp));
}

TEST(StorePath, Accepts259BytesAndRefuses260) {
    // "C:\save" + "\" + "server\" is 15 bytes.
    const auto url_of_length = [](std::size_t total) {
        return http_url("server", "/" + std::string(total - 15, 'a'));
    };
    const auto accepted = url_store_path(kSaveFolder, url_of_length(259));
    ASSERT_TRUE(accepted);
    EXPECT_EQ(accepted->size(), 259u);
    EXPECT_FALSE(url_store_path(kSaveFolder, url_of_length(260)));
    // The limit counts the escaped bytes: each "*" becomes three.
    EXPECT_EQ(url_store_path(kSaveFolder, http_url("server", "/" + std::string(81, '*')))
                  .value_or("").size(),
              258u);
    EXPECT_FALSE(url_store_path(kSaveFolder, http_url("server", "/" + std::string(82, '*'))));
}

TEST(FileElementGuard, OrdinaryElementsAreUntouched) {
    for (const char* name : {"index.html", "a.b", ".htaccess", "...a", "COM0", "COM10", "LPT",
                             "CONSOLE", "con1", "NULL.txt", "aux_", "CO%4E", "a%252E", "表",
                             "CON%3Fx", "index.html%3Fa=b", "server%3A80", "a b", " a"}) {
        EXPECT_EQ(guarded(name), name);
    }
}

TEST(FileElementGuard, FinalDotOrSpace) {
    EXPECT_EQ(guarded("."), "%2E");
    EXPECT_EQ(guarded(".."), ".%2E");
    EXPECT_EQ(guarded("..."), "..%2E");
    EXPECT_EQ(guarded("a."), "a%2E");
    EXPECT_EQ(guarded("a "), "a%20");
    EXPECT_EQ(guarded("a. "), "a.%20");
    EXPECT_EQ(guarded("index.html%3Fx "), "index.html%3Fx%20");
}

TEST(FileElementGuard, DeviceNames) {
    EXPECT_EQ(guarded("CON"), "CO%4E");
    EXPECT_EQ(guarded("con"), "co%6E");
    EXPECT_EQ(guarded("Prn.html"), "Pr%6E.html");
    EXPECT_EQ(guarded("aux.tar.gz"), "au%78.tar.gz");
    EXPECT_EQ(guarded("Nul .x"), "Nu%6C .x");
    EXPECT_EQ(guarded("COM1"), "COM%31");
    EXPECT_EQ(guarded("lpt9.txt"), "lpt%39.txt");
    EXPECT_EQ(guarded("CON."), "CON%2E");
    EXPECT_EQ(guarded("CON.txt."), "CO%4E.txt%2E");
    EXPECT_EQ(guarded("CON "), "CON%20");
}

TEST(FileElementGuard, LeadByteEndingTheElement) {
    EXPECT_EQ(guarded("a\x81"), "a%81");
    EXPECT_EQ(guarded("\xE0"), "%E0");
    EXPECT_EQ(guarded("表"), "表");
}

TEST(FileElementGuard, AppliesToHostAndQueryElements) {
    EXPECT_EQ(relative(http_url("..", "/")), ".%2E\\index.html");
    EXPECT_EQ(relative(http_url("con", "/")), "co%6E\\index.html");
    EXPECT_EQ(relative(http_url("a", "/", std::nullopt, "..")), "a%3A.%2E\\index.html");
    EXPECT_EQ(relative(http_url("server", "/dir/", "x.")), "server\\dir\\index.html%3Fx%2E");
    EXPECT_EQ(relative(http_url("server", "/CON", "x")), "server\\CON%3Fx");
    EXPECT_EQ(relative(http_url("server", "/a/", "q=+")), "server\\a\\index.html%3Fq=%20");
}

TEST(FileElementGuard, EveryElementOfAPathIsGuarded) {
    EXPECT_EQ(relative(http_url("server", "/../%2e%2E/./CON/x.")),
              "server\\.%2E\\.%2E\\%2E\\CO%4E\\x%2E");
    EXPECT_EQ(relative(http_url("server", "/a%81/b")), "server\\a%81\\b");
}

// URLs crafted to leave the save folder, open a device or lose a name.
std::vector<ParsedUrl> hostile_urls() {
    std::vector<ParsedUrl> urls;
    for (const char* path :
         {"/..", "/.", "/../x", "/./x", "/../../../../Windows/win.ini", "/%2e%2E/x", "/%2E/x",
          "/.%2e/.%2E/x", "/..%2f..%2fx", "/..%2F", "/%5C..%5C..%5Cx", "/..%5c", "/..\\..\\x",
          "/a/..", "/a/.", "/a/../..", "/...", "/.. ", "/. ", "/%20", "/a.", "/a%20", "/a%2E",
          "/a.%20.", "/..%00/x", "/.%00abc/x", "/..%00", "/%81/../../x", "/a%81/b", "/..%81/x",
          "/x/..%2f../..%2f..", "/CON", "/con.txt", "/Nul .x", "/COM1", "/lpt9.html", "/aux./x",
          "/prn..", "/CoM9/a", "/CON /x", "/%43%4F%4E/x", "/AUX%20.txt", "/dir/..%3F", "/%2e%2e%5c%2e%2e"}) {
        urls.push_back(http_url("server", path));
    }
    for (const char* host : {"..", ".", "%2e%2e", "..%5C..", "con", "NUL.", "a ", "%81", "..%2F.."}) {
        urls.push_back(http_url(host, "/x"));
    }
    urls.push_back(http_url("server", "/..", ".."));
    urls.push_back(http_url("server", "/dir/", "."));
    urls.push_back(http_url("server", "/dir/", "x+"));
    urls.push_back(http_url("server", "/x", "a%00"));
    urls.push_back(http_url("server", "/..", std::nullopt, ".."));
    urls.push_back(http_url("..", "/", std::nullopt, ""));
    return urls;
}

TEST(StorePathSafety, HostileUrlsStayInsideAndNameNoDevice) {
    for (const char* folder : {"C:\\save", "C:\\save\\", "C:\\表", "D:\\a b\\vellum"}) {
        for (const ParsedUrl& url : hostile_urls()) {
            const auto path = url_store_path(folder, url);
            ASSERT_TRUE(path) << *url.host << *url.path;
            EXPECT_EQ(test::store_path_fault(folder, *path), "") << *path;
        }
    }
}

TEST(StorePathSafety, CheckerSeesWhatWindowsWouldDo) {
    // The checker itself must catch each hazard the guard exists for.
    EXPECT_EQ(test::store_path_fault("C:\\save", "C:\\save\\server\\x"), "");
    EXPECT_NE(test::store_path_fault("C:\\save", "C:\\save\\server\\..\\..\\x"), "");
    EXPECT_NE(test::store_path_fault("C:\\save", "C:\\save\\.."), "");
    EXPECT_NE(test::store_path_fault("C:\\save", "C:\\save\\server\\x."), "");
    EXPECT_NE(test::store_path_fault("C:\\save", "C:\\save\\server\\ "), "");
    EXPECT_NE(test::store_path_fault("C:\\save", "C:\\save\\server\\con .txt"), "");
    EXPECT_NE(test::store_path_fault("C:\\save", "C:\\save\\LPT1\\x"), "");
    // The lead byte takes the backslash after it: "a\x81\.." is one element.
    EXPECT_EQ(test::store_path_fault("C:\\save", "C:\\save\\server\\a\x81\\..\\..\\x"), "");
    EXPECT_NE(test::store_path_fault("C:\\save", "C:\\save\\a\x81\\..\\..\\..\\x"), "");
    EXPECT_NE(test::store_path_fault("C:\\save", "C:\\save/../x"), "");
    EXPECT_NE(test::store_path_fault("C:\\save", "C:\\save\\a?b"), "");
    EXPECT_EQ(test::store_path_fault("C:\\表", "C:\\表\\x"), "");
    EXPECT_NE(test::store_path_fault("C:\\表", "C:\\\x95\\x"), "");
}

TEST(StorePathSafety, ChangedElementsStayDistinct) {
    // Compared without letter case, as the file system does.
    const std::vector<std::string> paths = {
        "/a", "/a.", "/a ", "/a..", "/a. ", "/a%252E", "/a%2520", "/.", "/..", "/...", "/%252E",
        "/.%252E", "/CON", "/CO", "/CO%254E", "/COM1", "/COM%2531", "/a%81", "/a%2581", "/x/",
        "/x/index.html.", "/x/index.html%2520"};
    std::map<std::string, std::string> seen;
    for (const std::string& path : paths) {
        std::string file = relative(http_url("server", path));
        for (char& ch : file) ch = test::ascii_upper(ch);
        const auto [it, fresh] = seen.emplace(file, path);
        EXPECT_TRUE(fresh) << path << " and " << it->second << " share " << file;
    }
}

TEST(StorePathSafety, LeadByteBeforeTheQueryKeepsUrlsApart) {
    // An unpaired lead byte at the end of the path would pair with the "%" of
    // the escaped "?" and read like the escaped "%" of another URL.
    const std::string with_query = relative(http_url("server", "/a%81", "x"));
    const std::string without = relative(http_url("server", "/a%81%253Fx"));
    EXPECT_EQ(with_query, "server\\a%81%3Fx");
    EXPECT_EQ(without, "server\\a%81%253Fx");
}

// Random elements over the bytes that matter to the guard, fixed seed.
TEST(StorePathSafety, RandomElementsAreGuardedInjectivelyAndSafely) {
    static constexpr char kAlphabet[] = {'.', ' ', '%', '2', 'E', 'e', '0', 'C', 'O', 'N', 'o',
                                         'n', 'M', '1', 'L', 'P', 'T', 'a', '\x81', '\x95',
                                         '\x5C', '/', '?', 'x'};
    std::mt19937 random(20240601);
    std::uniform_int_distribution<std::size_t> pick(0, sizeof kAlphabet - 1);
    std::uniform_int_distribution<int> length(1, 7);
    std::map<std::string, std::string> guarded_from;
    for (int round = 0; round < 20000; ++round) {
        std::string segment;
        for (int i = length(random); i > 0; --i) segment += kAlphabet[pick(random)];

        std::string element = segment;
        escape_for_file_name(element);
        const std::string before = element;
        guard_file_element(element);
        EXPECT_EQ(guarded(element), element) << "not stable: " << before;
        const auto [it, fresh] = guarded_from.emplace(element, before);
        EXPECT_TRUE(fresh || it->second == before) << before << " and " << it->second;

        const auto path = url_store_path(kSaveFolder, http_url("server", "/" + segment + "/" + segment));
        if (path) {
            EXPECT_EQ(test::store_path_fault(kSaveFolder, *path), "") << *path;
        }
    }
}

TEST(FoldersAbove, CutsAtEachBackslashButTheRootOnes) {
    EXPECT_THAT(folders_above("C:\\save\\server\\x.html"), ElementsAre("C:\\save", "C:\\save\\server"));
    EXPECT_THAT(folders_above("\\save\\x"), ElementsAre("\\save"));
    EXPECT_THAT(folders_above("C:\\x"), ElementsAre());
    EXPECT_THAT(folders_above("x"), ElementsAre());
    EXPECT_THAT(folders_above("C:\\a\\\\b\\x"), ElementsAre("C:\\a", "C:\\a\\", "C:\\a\\\\b"));
}

TEST(FoldersAbove, TrailByteBackslashIsNoSeparator) {
    EXPECT_THAT(folders_above("C:\\表\\表x\\f"), ElementsAre("C:\\表", "C:\\表\\表x"));
}

}  // namespace
}  // namespace vellum
