#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <random>
#include <string>
#include <vector>

#include "autoget/link_extractor.h"
#include "http/url_text.h"

namespace vellum {
namespace {

using ::testing::ElementsAre;
using ::testing::IsEmpty;

const char kSheet[] = "http://h/static/css/site.css?v=3";

std::vector<std::string> links_in(std::string_view css, std::size_t chunk = 65536) {
    MemoryPageSource source(css, chunk);
    LinkList links;
    extract_stylesheet_links(source, parse_url(kSheet).value(), links);
    std::vector<std::string> out;
    for (const LinkEntry& entry : links) {
        EXPECT_EQ(entry.isLink, 0);
        out.push_back(url_text(entry.url).value_or("<no text>"));
    }
    return out;
}

TEST(StylesheetReferences, UrlFunctionsQuotedAndBare) {
    EXPECT_THAT(stylesheet_references("a{background:url(a.png)} b{background:URL( 'b.png' )}"
                                      "c{background-image:url(\"c d.png\")} d{src:url(  e.woff2  ) format('woff2')}"),
                ElementsAre("a.png", "b.png", "c d.png", "e.woff2"));
    // Inside quotes the other quote and parentheses are bytes of the URL.
    EXPECT_THAT(stylesheet_references("x{a:url('it\"s(1).png') b:url(\"it's.png\")}"),
                ElementsAre("it\"s(1).png", "it's.png"));
    // A bare URL with a space, a quote or "(" inside is a bad URL: nothing, up to its ")".
    EXPECT_THAT(stylesheet_references("x{a:url(a b.png) b:url(a'b.png) c:url(a(b.png) d:url(ok.png)}"),
                ElementsAre("ok.png"));
    // Only the word url itself opens one.
    EXPECT_THAT(stylesheet_references("x{a:myurl(no.png) b:url-x(no.png) c:2url(no.png) d:url (no.png) e:url(y.png)}"),
                ElementsAre("y.png"));
    EXPECT_THAT(stylesheet_references("x{a:url() b:url('') c:url( )}"), IsEmpty());
}

TEST(StylesheetReferences, ImportsAsStringsAndAsUrls) {
    EXPECT_THAT(stylesheet_references("@import \"basic.css\";\n@import url(\"classic.css\") screen;\n"
                                      "@IMPORT 'x.css' print; @import url(y.css);@import\"z.css\";"),
                ElementsAre("basic.css", "classic.css", "x.css", "y.css", "z.css"));
    // A string elsewhere is no reference; neither is another at-rule's.
    EXPECT_THAT(stylesheet_references("a{content:\"a.png\"} @charset \"utf-8\"; @font-face{src:url(f.ttf)}"
                                      "@importx 'n.css'; @import /* c */ 'm.css';"),
                ElementsAre("f.ttf", "m.css"));
}

TEST(StylesheetReferences, CommentsAndStringsHideWhatLooksLikeReferences) {
    EXPECT_THAT(stylesheet_references("/* url(in.png) @import 'in.css'; */ a{b:url(out.png)} /**/ /* * / */"
                                      "c{content:'url(no.png)'} d{content:\"@import 'no.css'\"} e{f:url(/*x*/.png)}"),
                ElementsAre("out.png", "/*x*/.png"));
    // What never closes ends the scan where it opens.
    EXPECT_THAT(stylesheet_references("a{b:url(one.png)} /* c{d:url(no.png)}"), ElementsAre("one.png"));
    EXPECT_THAT(stylesheet_references("a{b:url(one.png)} c{d:url(two.png"), ElementsAre("one.png"));
    EXPECT_THAT(stylesheet_references("a{b:url(one.png)} c{content:'open"), ElementsAre("one.png"));
    // A newline breaks a string: no reference, and the scan goes on.
    EXPECT_THAT(stylesheet_references("@import 'broken\n.css';\na{b:url(ok.png)}"), ElementsAre("ok.png"));
}

TEST(StylesheetReferences, EscapesAreUndoneAsCssReadsThem) {
    EXPECT_THAT(stylesheet_references("a{b:url(a\\(1\\).png) c:url('q\\'s.png') d:url(\"\\61 b.png\") "
                                      "e:url(\\000063.png) f:url('line\\\ncontinued.png') g:u\\72l(esc.png)}"),
                ElementsAre("a(1).png", "q's.png", "ab.png", "c.png", "linecontinued.png", "esc.png"));
    // An escape beyond ASCII cannot be written back in the page's bytes.
    EXPECT_THAT(stylesheet_references("a{b:url('\\e9t\\e9.png') c:url(\\0) d:url(ok.png)}"), ElementsAre("ok.png"));
}

TEST(StylesheetReferences, DoubleByteCharactersAreReadWhole) {
    // 0x95 0x5C is one character: its trail byte escapes nothing.
    EXPECT_THAT(stylesheet_references("a{b:url('\x95\x5C.png')} c{d:url(\x83\x5C\x83\x5C.png)}"),
                ElementsAre("\x95\x5C.png", "\x83\x5C\x83\x5C.png"));
    // A trail byte "u" does not start the word url.
    EXPECT_THAT(stylesheet_references("a{b:\x82urll(no.png) c:\x82u url(yes.png)}"), ElementsAre("yes.png"));
    // A lead byte before a quote or a ")" (no trail byte there) is a byte of its own.
    EXPECT_THAT(stylesheet_references("a{b:url('x\x82') c:url(y\x82) d:url(z.png)}"),
                ElementsAre("x\x82", "y\x82", "z.png"));
}

TEST(StylesheetLinks, ResolvedAgainstTheStylesheetAsResources) {
    EXPECT_THAT(links_in("@import url(\"basic.css\"); a{b:url('../img/a.png')} c{d:url(/top.png)}"
                         "e{f:url(http://o:81/x.png#frag)} g{h:url(#svg-filter)} i{j:url(data:image/png;base64,AAAA)}"
                         "k{l:url(HTTP://no/x.png)} m{n:url(?q)} o{p:url(sub/q.png?x=1)}"),
                ElementsAre("http://h/static/css/basic.css", "http://h/static/img/a.png", "http://h/top.png",
                            "http://o:81/x.png", "http://h/static/css/sub/q.png?x=1"));
}

TEST(StylesheetLinks, LongReferencesAreDroppedAndTheScanGoesOn) {
    const std::string long_url = std::string(256, 'a') + ".png";
    const std::string data = "data:image/png;base64," + std::string(100000, 'Q');
    EXPECT_THAT(links_in("a{b:url(" + long_url + ")} c{d:url('" + data + "')} e{f:url(" + std::string(255, 'b') +
                         ".png)}"),
                ElementsAre("http://h/static/css/" + std::string(255, 'b') + ".png"));
}

// A source that fails after handing out its first bytes.
class FailingSource : public PageSource {
public:
    FailingSource(std::string bytes, std::size_t good) : bytes_(std::move(bytes)), good_(good) {}
    int read(char* buffer, int size) override {
        if (position_ >= good_) return -1;
        const std::size_t count = std::min<std::size_t>(static_cast<std::size_t>(size), good_ - position_);
        std::copy_n(bytes_.data() + position_, count, buffer);
        position_ += count;
        return static_cast<int>(count);
    }

private:
    std::string bytes_;
    std::size_t good_;
    std::size_t position_ = 0;
};

TEST(StylesheetLinks, AReadErrorScansWhatWasRead) {
    FailingSource source("a{b:url(1.png)} c{d:url(2.png)} e{f:url(3.png)}", 32);
    LinkList links;
    extract_stylesheet_links(source, parse_url(kSheet).value(), links);
    ASSERT_EQ(links.size(), 2u);
    EXPECT_EQ(url_text(links[1].url).value_or(""), "http://h/static/css/2.png");
}

TEST(StylesheetLinks, SameLinksHoweverTheSheetIsRead) {
    std::mt19937 random(932);
    const std::vector<std::string> pieces = {"a{b:url(x.png)}", "@import 'i.css';", "/* url(c.png) */", "'s'",
                                             "url(\"q.png\")", "\\", "\n", " ", "\x82\xa0", "url(", ")"};
    std::string sheet;
    while (sheet.size() < 60000) sheet += pieces[std::uniform_int_distribution<std::size_t>(0, pieces.size() - 1)(random)];
    const std::vector<std::string> whole = links_in(sheet);
    for (std::size_t chunk : {1u, 4093u}) EXPECT_EQ(links_in(sheet, chunk), whole) << chunk;
}

TEST(LinkScanDispatch, EachScanReadsItsWay) {
    const std::string page = "<link rel=stylesheet href=s.css><a href=a.html>";
    auto scanned = [&](LinkScan scan, std::string_view bytes) {
        MemoryPageSource source(bytes);
        LinkList links;
        scan_links(source, parse_url("http://h/p.html").value(), scan, links);
        return links.size();
    };
    EXPECT_EQ(scanned(LinkScan::page, page), 1u);
    EXPECT_EQ(scanned(LinkScan::page_with_requisites, page), 2u);
    EXPECT_EQ(scanned(LinkScan::stylesheet, "a{b:url(x.png)}"), 1u);
}

}  // namespace
}  // namespace vellum
