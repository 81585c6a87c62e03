#include "autoget/link_extractor.h"

#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <random>
#include <string>
#include <vector>

#include "http/url_text.h"

namespace vellum {
namespace {

using ::testing::ElementsAre;
using ::testing::IsEmpty;

const char kPage[] = "http://h/dir/page.html";

// Entries as "L url" (hyperlink) or "R url" (resource).
std::vector<std::string> entries_of(const LinkList& links) {
    std::vector<std::string> out;
    for (const LinkEntry& entry : links) {
        EXPECT_FALSE(entry.url.fragment);
        out.push_back((entry.isLink ? "L " : "R ") + url_text(entry.url).value_or("<no text>"));
    }
    return out;
}

std::vector<std::string> links_in(std::string_view html, const std::string& page = kPage, std::size_t chunk = 4096) {
    MemoryPageSource source(html, chunk);
    LinkList links;
    extract_links(source, parse_url(page).value(), links);
    return entries_of(links);
}

std::vector<std::string> requisites_in(std::string_view html, const std::string& page = kPage,
                                       std::size_t chunk = 4096) {
    MemoryPageSource source(html, chunk);
    LinkList links;
    extract_links(source, parse_url(page).value(), links, /*pageRequisites=*/true);
    return entries_of(links);
}

std::string resolved(const std::string& base, const std::string& relative) {
    const std::optional<ParsedUrl> b = parse_url(base);
    const std::optional<ParsedUrl> r = parse_url(relative);
    std::optional<ParsedUrl> url = resolve_url(b ? &*b : nullptr, r ? &*r : nullptr);
    return url ? url_text(*url).value_or("<no text>") : "<none>";
}

TEST(TagLength, EndsAtTheFirstCloseOutsideComments) {
    EXPECT_EQ(tag_length("a href=x>rest"), 9u);
    EXPECT_EQ(tag_length(">"), 1u);
    EXPECT_EQ(tag_length("a href=x"), 0u);  // the bytes end first
    EXPECT_EQ(tag_length(""), 0u);
    EXPECT_EQ(tag_length("!DOCTYPE html>"), 14u);
    EXPECT_EQ(tag_length("!x>"), 3u);
}

TEST(TagLength, CommentsCloseAfterTwoDashes) {
    EXPECT_EQ(tag_length("!-- a > b -->x"), 13u);
    EXPECT_EQ(tag_length("!---->"), 6u);
    EXPECT_EQ(tag_length("!--- ->-->"), 10u);
    EXPECT_EQ(tag_length("!-- -- >x-->"), 12u);  // a space between breaks the dashes
    // The opening dashes do not count towards the close.
    EXPECT_EQ(tag_length("!-->"), 0u);
    EXPECT_EQ(tag_length("!--->"), 0u);
    // The bytes that decide about a comment never close the tag themselves.
    EXPECT_EQ(tag_length("!>a>"), 4u);
    EXPECT_EQ(tag_length("!->a>"), 5u);
    EXPECT_EQ(tag_length("!-x>"), 4u);
    // Only a comment at the very start counts.
    EXPECT_EQ(tag_length(" !-- > -->"), 6u);
}

TEST(ResolveUrl, SchemeHostQueryAndFragment) {
    EXPECT_EQ(resolved(kPage, "x.html"), "http://h/dir/x.html");
    EXPECT_EQ(resolved(kPage, "/x.html"), "http://h/x.html");
    EXPECT_EQ(resolved(kPage, "http://o:81/y?q#f"), "http://o:81/y?q");
    EXPECT_EQ(resolved("http://h:8080/a?bq#bf", "b?q"), "http://h:8080/b?q");
    EXPECT_EQ(resolved("http://h:8080/a?bq#bf", "b"), "http://h:8080/b");  // the base's query stays behind
    EXPECT_EQ(resolved(kPage, "x.html#frag"), "http://h/dir/x.html");
    EXPECT_EQ(resolved(kPage, "#frag"), "<none>");   // no path
    EXPECT_EQ(resolved(kPage, "?q=1"), "<none>");
    EXPECT_EQ(resolved(kPage, "//o/x"), "http://h//o/x");  // a path on the base's host
    EXPECT_EQ(resolved(kPage, "mailto:a@b"), "<none>");
    EXPECT_EQ(resolved(kPage, "HTTP://o/x"), "<none>");
    EXPECT_EQ(resolved("ftp://h/", "x"), "<none>");  // parse gives no http base
    EXPECT_EQ(resolved("/dir/", "x"), "<none>");      // a base without scheme or host
    EXPECT_EQ(resolved("/dir/", "http://o/x"), "http://o/x");
    EXPECT_EQ(resolved(kPage, "http://o"), "<none>");  // does not parse
    const std::optional<ParsedUrl> page = parse_url(kPage);
    EXPECT_FALSE(resolve_url(nullptr, &*page));
    EXPECT_FALSE(resolve_url(&*page, nullptr));

    ParsedUrl odd_base = *page;
    odd_base.path = "dir/page.html";
    const ParsedUrl relative = parse_url("x").value();
    EXPECT_FALSE(resolve_url(&odd_base, &relative));
    const ParsedUrl absolute = parse_url("/x").value();
    EXPECT_TRUE(resolve_url(&odd_base, &absolute));
}

TEST(ResolveUrl, HttpsBasesAndReferences) {
    const std::string page = "https://h:8443/dir/page.html";
    EXPECT_EQ(resolved(page, "x.html"), "https://h:8443/dir/x.html");
    EXPECT_EQ(resolved(page, "../x.html?q#f"), "https://h:8443/x.html?q");
    EXPECT_EQ(resolved(page, "/x"), "https://h:8443/x");
    EXPECT_EQ(resolved(page, "http://o/x"), "http://o/x");  // a link may leave https
    EXPECT_EQ(resolved(kPage, "https://o/x"), "https://o/x");
    EXPECT_EQ(resolved(page, "HTTPS://o/x"), "<none>");
    EXPECT_EQ(resolved(page, "https://o"), "<none>");
}

TEST(ResolveUrl, DotSegments) {
    EXPECT_EQ(resolved("http://h/a/b/c.html", "../x"), "http://h/a/x");
    EXPECT_EQ(resolved("http://h/a/c.html", "../../x.html"), "http://h/x.html");  // the second is ignored at the root
    EXPECT_EQ(resolved("http://h/a/b/c", "."), "http://h/a/b/");
    EXPECT_EQ(resolved("http://h/a/b/c", "./"), "http://h/a/b/");
    EXPECT_EQ(resolved("http://h/a/b/c", ".."), "http://h/a/");
    EXPECT_EQ(resolved("http://h/c", ".."), "http://h/");
    EXPECT_EQ(resolved("http://h/a/b/c", "../.."), "http://h/");
    EXPECT_EQ(resolved("http://h/a/b/c", "./../x/./y"), "http://h/a/x/y");
    EXPECT_EQ(resolved("http://h/a/b/c", "x//y///z"), "http://h/a/b/x/y/z");
    EXPECT_EQ(resolved("http://h/a/b/c", "..x/.y/z.."), "http://h/a/b/..x/.y/z..");
    EXPECT_EQ(resolved("http://h/a/b/c", "x/../"), "http://h/a/b/");
    EXPECT_EQ(resolved("http://h/a/b/c", "x/.."), "http://h/a/b/");
    EXPECT_EQ(resolved("http://h/a/b/c", "x/./."), "http://h/a/b/x/");
    EXPECT_EQ(resolved("http://h/a/b/c", "x/../../../../y"), "http://h/y");
    EXPECT_EQ(resolved("http://h//c", "../x"), "http://h/x");  // an empty segment is a folder too
    EXPECT_EQ(resolved("http://h/a/b/c", "/../x"), "http://h/../x");  // absolute paths are kept as they are
}

TEST(ExtractLinks, BothTablesAndNothingElse) {
    EXPECT_THAT(links_in("<BGSOUND src=s.wav><embed src=e.swf><frame src=f.html><img src=i.gif>"
                         "<image src=j.gif><input type=image src=k.gif><img dynsrc=v.avi>"
                         "<image dynsrc=w.avi><body background=b.gif><table background=t.gif>"
                         "<td background=d.gif><th background=h.gif><a href=a.html><area href=m.html>"),
                ElementsAre("R http://h/dir/s.wav", "R http://h/dir/e.swf", "R http://h/dir/f.html",
                            "R http://h/dir/i.gif", "R http://h/dir/j.gif", "R http://h/dir/k.gif",
                            "R http://h/dir/v.avi", "R http://h/dir/w.avi", "R http://h/dir/b.gif",
                            "R http://h/dir/t.gif", "R http://h/dir/d.gif", "R http://h/dir/h.gif",
                            "L http://h/dir/a.html", "L http://h/dir/m.html"));
    EXPECT_THAT(links_in("<link href=s.css><script src=x.js></script><iframe src=f.html><form action=p.cgi>"
                         "<object data=o.swf><a src=x.gif><img href=y.html><td src=z.gif><tr background=q.gif>"
                         "<frame href=a.html><imgs src=x><A HREF=\"up.html\" HREF=again.html>"),
                ElementsAre("L http://h/dir/up.html", "L http://h/dir/again.html"));
}

TEST(ExtractLinks, AttributeSyntax) {
    EXPECT_THAT(links_in("<a\thref\r\n=\n'x y.html' ><a href=\"  sp.html  \"><a href = a.html>"),
                ElementsAre("L http://h/dir/x y.html", "L http://h/dir/sp.html", "L http://h/dir/a.html"));
    // Each quote looks only for its own kind.
    EXPECT_THAT(links_in("<a href='say\"hi\".html'><a href=\"it's.html\">"),
                ElementsAre("L http://h/dir/say\"hi\".html", "L http://h/dir/it's.html"));
    // An unquoted value runs to the next space; a quote inside it is a byte.
    EXPECT_THAT(links_in("<a href=x\"y.html title=z>"), ElementsAre("L http://h/dir/x\"y.html"));
    // A value-less attribute in front joins the next name, which then does not match.
    EXPECT_THAT(links_in("<a nowrap href=x.html><a nowrap=1 href=y.html>"), ElementsAre("L http://h/dir/y.html"));
    // No closing quote ends the tag, not the page.
    EXPECT_THAT(links_in("<a href=\"x.html><img src=a.gif><a href=y.html>"),
                ElementsAre("R http://h/dir/a.gif", "L http://h/dir/y.html"));
    EXPECT_THAT(links_in("<a href=\"x.html src=a.gif><a href=y.html>"), ElementsAre("L http://h/dir/y.html"));
    // Tags with leading spaces count; tags without attributes are passed over.
    EXPECT_THAT(links_in("< a href=x.html><a><a >"), ElementsAre("L http://h/dir/x.html"));
    // Several pairs in one tag, in order; an empty value gives nothing.
    EXPECT_THAT(links_in("<img src=\"\" dynsrc=v.avi src=i.gif>"),
                ElementsAre("R http://h/dir/v.avi", "R http://h/dir/i.gif"));
}

TEST(ExtractLinks, EntitiesOnlyInsideQuotes) {
    EXPECT_THAT(links_in("<a href=\"p.cgi?a=1&amp;b=2\"><a href=p.cgi?a=1&amp;b=2><a href='&#41;&lt;.html'>"),
                ElementsAre("L http://h/dir/p.cgi?a=1&b=2", "L http://h/dir/p.cgi?a=1&amp;b=2",
                            "L http://h/dir/A<.html"));
}

TEST(ExtractLinks, CommentsHideTags) {
    EXPECT_THAT(links_in("<!-- <a href=in.html> --><a href=out.html>"), ElementsAre("L http://h/dir/out.html"));
    EXPECT_THAT(links_in("<!-- a > b <a href=in.html> --><a href=out.html>"), ElementsAre("L http://h/dir/out.html"));
    EXPECT_THAT(links_in("< !-- <a href=in.html> --><a href=out.html>"), ElementsAre("L http://h/dir/out.html"));
    EXPECT_THAT(links_in("<!--><a href=in.html>--><a href=out.html>"), ElementsAre("L http://h/dir/out.html"));
    EXPECT_THAT(links_in("<!-- never closed <a href=in.html>"), IsEmpty());
}

TEST(ExtractLinks, BaseHref) {
    EXPECT_THAT(links_in("<a href=1.html><base href=\"http://o:81/x/y.html\"><a href=2.html><img src=/3.gif>"
                         "<base href=mailto:x><a href=4.html>"),
                ElementsAre("L http://h/dir/1.html", "L http://o:81/x/2.html", "R http://o:81/3.gif",
                            "L http://h/dir/4.html"));
    // A base that does not parse is no base; one without a scheme is kept,
    // though nothing relative resolves against it.
    EXPECT_THAT(links_in("<base href=http://o><a href=1.html><base href=/other/><a href=2.html>"
                         "<a href=http://p/3.html><base href='HTTP://q/'><a href=4.html>"),
                ElementsAre("L http://h/dir/1.html", "L http://p/3.html"));
    // BASE with another attribute is still BASE; BASE SRC is nothing.
    EXPECT_THAT(links_in("<base target=_top href=http://o/d/><base src=http://p/><a href=x>"),
                ElementsAre("L http://o/d/x"));
}

TEST(ExtractLinks, AnHttpsPageAndAnHttpsBase) {
    EXPECT_THAT(links_in("<a href=a.html><img src=/i.png><a href=http://p/b.html><base href=https://o/d/><a href=c.html>",
                         "https://h/dir/page.html"),
                ElementsAre("L https://h/dir/a.html", "R https://h/i.png", "L http://p/b.html", "L https://o/d/c.html"));
    EXPECT_THAT(links_in("<base href=\"https://o:8443/x/\"><frame src=f.html>"), ElementsAre("R https://o:8443/x/f.html"));
}

TEST(ExtractLinks, ValuesThatGiveNothing) {
    EXPECT_THAT(links_in("<a href=#top><a href=?q><a href=mailto:a@b><a href=javascript:go()>"
                         "<a href=ftp://f/x><a href=HTTP://o/x><a href=http://o><a href=x.html#sec>"),
                ElementsAre("L http://h/dir/x.html"));
}

TEST(ExtractLinks, LimitsOf260Bytes) {
    const std::string name259(259, 'X');
    const std::string name260(260, 'X');
    EXPECT_THAT(links_in("<" + name259 + " a=b><a href=1.html><" + name260 + " a=b><a href=2.html>"),
                ElementsAre("L http://h/dir/1.html"));
    EXPECT_THAT(links_in("<" + name260 + "><a href=1.html>"), IsEmpty());  // even without attributes

    const std::string attr260(260, 'Y');
    EXPECT_THAT(links_in("<a " + attr260 + "=1 href=1.html><a " + std::string(259, 'Y') + "=1 href=2.html>"),
                ElementsAre("L http://h/dir/2.html"));

    const std::string value255 = std::string(251, 'v') + ".htm";  // 255 bytes
    const std::string value259 = std::string(255, 'v') + ".htm";
    const std::string value260 = std::string(256, 'v') + ".htm";
    EXPECT_THAT(links_in("<a href=" + value259 + "><a href=" + value260 + " href=x><a href='  " + value259 + "  '>"),
                ElementsAre("L http://h/dir/" + value259, "L http://h/dir/" + value259));
    // The limit is on the value as written; entities are decoded afterwards.
    EXPECT_THAT(links_in("<a href=\"" + value255 + "&lt;\">"), ElementsAre("L http://h/dir/" + value255 + "<"));
}

TEST(ExtractLinks, EndsOfThePage) {
    EXPECT_THAT(links_in("<a href=1.html><a href=2.html"), ElementsAre("L http://h/dir/1.html"));
    EXPECT_THAT(links_in("<a href=1.html>text<"), ElementsAre("L http://h/dir/1.html"));
    // A zero byte ends the tag's text where it stands.
    EXPECT_THAT(links_in(std::string("<a href=1.html\0 href=2.html><img src=\"x\0.gif\">", 45)),
                ElementsAre("L http://h/dir/1.html"));
    EXPECT_THAT(links_in(""), IsEmpty());
}

// --- page requisites -------------------------------------------------------------------

TEST(PageRequisites, EachFormIsAnEmbeddedResourceBesideTheTables) {
    const std::string page =
        "<link rel=stylesheet href=s.css><link rel=\"shortcut icon\" href=/i.ico><script src=x.js></script>"
        "<img src=i.gif srcset=\"i2.gif 2x\"><picture><source srcset=w.webp></picture><video poster=p.jpg>"
        "<object data=o.svg></object><iframe src=f.html></iframe><a href=a.html><frame src=g.html>";
    EXPECT_THAT(requisites_in(page),
                ElementsAre("R http://h/dir/s.css", "R http://h/i.ico", "R http://h/dir/x.js", "R http://h/dir/i.gif",
                            "R http://h/dir/i2.gif", "R http://h/dir/w.webp", "R http://h/dir/p.jpg",
                            "R http://h/dir/o.svg", "R http://h/dir/f.html", "L http://h/dir/a.html",
                            "R http://h/dir/g.html"));
    // Without the option the same page gives the two tables' entries only.
    EXPECT_THAT(links_in(page), ElementsAre("R http://h/dir/i.gif", "L http://h/dir/a.html", "R http://h/dir/g.html"));
}

TEST(PageRequisites, LinkCountsOnlyWithAStylesheetOrIconRel) {
    EXPECT_THAT(requisites_in("<link href=a.css rel=stylesheet><LINK REL='Alternate StyleSheet' HREF=b.css>"
                              "<link rel=next href=n.html><link rel=stylesheets href=c.css><link href=d.css>"
                              "<link rel=icon><link rel=\"apple-touch-icon\" href=t.png><link rel=ICON href=i.png>"
                              "<link rel=stylesheet href=e.css href=f.css rel=next>"),
                ElementsAre("R http://h/dir/a.css", "R http://h/dir/b.css", "R http://h/dir/i.png",
                            "R http://h/dir/e.css"));
    // Pairs before a malformed one still count; a LINK in a comment does not.
    EXPECT_THAT(requisites_in("<link rel=stylesheet href=a.css title=\"open><!-- <link rel=icon href=x> -->"),
                ElementsAre("R http://h/dir/a.css"));
}

TEST(PageRequisites, QuotesEntitiesAndUrlsAsForEveryOtherValue) {
    EXPECT_THAT(requisites_in("<script\tsrc\r\n=\n' /js/a.js?v=1&amp;w=2 '></script><script src=b.js?x&amp;y>"
                              "<video poster=\"http://o:81/p.png#t\"><object data='../up.swf'>"
                              "<iframe src=javascript:void(0)><iframe src=#x>"
                              "<script src=\"\">"),
                ElementsAre("R http://h/js/a.js?v=1&w=2", "R http://h/dir/b.js?x&amp;y", "R http://o:81/p.png",
                            "R http://h/up.swf"));
    // A BASE HREF moves them as it moves the tables' entries.
    EXPECT_THAT(requisites_in("<link rel=stylesheet href=a.css><base href=http://b/x/><link rel=stylesheet "
                              "href=a.css><script src=s.js>"),
                ElementsAre("R http://h/dir/a.css", "R http://b/x/a.css", "R http://b/x/s.js"));
    // Double-byte names pass whole: a trail byte 0x5C stays in the path.
    EXPECT_THAT(requisites_in("<script src=\"\x95\x5C.js\"><img srcset=\"\x83\x5C.png 1x,\x82\xA0.png 2x\">"),
                ElementsAre("R http://h/dir/\x95\x5C.js", "R http://h/dir/\x83\x5C.png", "R http://h/dir/\x82\xA0.png"));
}

TEST(PageRequisites, SrcsetCandidatesWithDensitiesAndWidths) {
    EXPECT_THAT(srcset_candidates("a.png, b.png 2x,c.png 1.5x ,  d.png 480w,e.png"),
                ElementsAre("a.png", "b.png", "c.png", "d.png", "e.png"));
    // A URL runs to white space, as a browser reads it: "e.png,f.png" is one.
    EXPECT_THAT(srcset_candidates("e.png,f.png 2x"), ElementsAre("e.png,f.png"));
    // A comma inside a URL stays; commas that end one part it from the next.
    EXPECT_THAT(srcset_candidates("p.cgi?a=1,2 1x, ,, q.png,, r.png 2x,"), ElementsAre("p.cgi?a=1,2", "q.png", "r.png"));
    EXPECT_THAT(srcset_candidates("x.png (max-width: 5px, 2x), y.png"), ElementsAre("x.png", "y.png"));
    EXPECT_THAT(srcset_candidates(" \t\n, "), IsEmpty());
    EXPECT_THAT(requisites_in("<img srcset=a.png src=b.png><source srcset='c.png 100w, d.png 200w' "
                              "sizes=\"50vw\"><img srcset=\"http://o/e.png 2x, #f 3x, g.png\">"),
                ElementsAre("R http://h/dir/a.png", "R http://h/dir/b.png", "R http://h/dir/c.png",
                            "R http://h/dir/d.png", "R http://o/e.png", "R http://h/dir/g.png"));
}

TEST(PageRequisites, LongSrcsetsAreReadAndEachUrlKeepsTheLimit) {
    std::string srcset;
    for (int i = 0; i < 40; ++i) srcset += "image-" + std::to_string(i) + "-of-many.png " + std::to_string(i) + "w, ";
    ASSERT_GT(srcset.size(), kTagTextLimit);
    const std::vector<std::string> found = requisites_in("<img srcset=\"" + srcset + "\" src=last.png>");
    ASSERT_EQ(found.size(), 41u);
    EXPECT_EQ(found.front(), "R http://h/dir/image-0-of-many.png");
    EXPECT_EQ(found.back(), "R http://h/dir/last.png");
    // Without the option the long value ends the tag, as any value does.
    EXPECT_THAT(links_in("<img srcset=\"" + srcset + "\" src=last.png>"), IsEmpty());

    const std::string url260 = std::string(256, 'u') + ".png";
    EXPECT_THAT(requisites_in("<img srcset=\"" + url260 + " 1x, ok.png 2x\">"), ElementsAre("R http://h/dir/ok.png"));
    EXPECT_THAT(requisites_in("<img srcset=\"" + std::string(kSrcsetTextLimit, 's') + "\" src=i.png><img src=j.png>"),
                ElementsAre("R http://h/dir/j.png"));
    // The other values keep the limit of 260 bytes.
    EXPECT_THAT(requisites_in("<script src=" + url260 + "><script src=ok.js>"), ElementsAre("R http://h/dir/ok.js"));
}

TEST(PageRequisites, SameEntriesHoweverThePageIsRead) {
    std::mt19937 random(20261209);
    const std::vector<std::string> pieces = {
        "<link rel=stylesheet href=s.css>", "<link href='i.ico' rel=\"icon\">", "<script src=j.js>", "</script>",
        "<img srcset=\"a.png 1x, b.png 2x\">", "<source srcset=c.webp>", "<video poster=p.jpg>", "<object data=o>",
        "<iframe src=f.html>", "<a href=a.html>", "<!-- <script src=no.js> -->", "<base href=http://o/b/>", " ", "\n",
        "<", ">", "'", "\"", "=", "\x82\xa0"};
    std::string page;
    while (page.size() < 60000) page += pieces[std::uniform_int_distribution<std::size_t>(0, pieces.size() - 1)(random)];
    const std::vector<std::string> byte_by_byte = requisites_in(page, kPage, 1);
    ASSERT_GT(byte_by_byte.size(), 100u);
    for (std::size_t chunk : {7u, 4096u, 65537u}) EXPECT_EQ(requisites_in(page, kPage, chunk), byte_by_byte) << chunk;
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

TEST(ExtractLinks, ReadErrorKeepsWhatWasFound) {
    const std::string html = "<a href=1.html><a href=2.html><a href=3.html>";
    FailingSource source(html, 20);
    LinkList links;
    extract_links(source, parse_url(kPage).value(), links);
    EXPECT_THAT(entries_of(links), ElementsAre("L http://h/dir/1.html"));
}

// Random pages of tag-like text, large enough to cross the scanner's
// blocks, with tags and comments longer than a block.
std::string random_page(std::mt19937& random, std::size_t size) {
    static const std::vector<std::string> kPieces = {
        "<a href=x.html>", "<A HREF='../y.htm?a=1&amp;b'>", "<img src=\"i.gif\">", "<!-- c <a href=c> -->",
        "<base href=http://o/b/>", "<base href=http://p/>", "<td background=t.png >", "<!>", "<!->x>",
        "<", ">", "-", "--", " ", "\n", "\t", "'", "\"", "=", "text ", "<frame\nsrc=f.html>",
        "<a href=\"unclosed>", "<area href=a#f>", "\x82\xa0", "&amp;", "<a href=" + std::string(300, 'z') + ">"};
    std::string page;
    while (page.size() < size) {
        const int kind = std::uniform_int_distribution<int>(0, 99)(random);
        const bool long_ones = size > 100000;
        if (kind < 2 && long_ones) {
            page += "<a title='" + std::string(70000, 'q') + "' href=long.html>";
        } else if (kind < 3 && long_ones) {
            page += "<!--" + std::string(70000, '-') + " -->";
        } else {
            page += kPieces[std::uniform_int_distribution<std::size_t>(0, kPieces.size() - 1)(random)];
            // Spaces now and then keep runs of tag-name text short of the limit.
            if (kind % 2 == 0) page += ' ';
        }
    }
    return page;
}

TEST(ExtractLinks, SameEntriesHoweverThePageIsRead) {
    std::mt19937 random(20240611);
    for (int round = 0; round < 12; ++round) {
        const std::string page = random_page(random, round < 6 ? 3000 : 400000);
        // One byte per read is the reading the rules are written for.
        const std::vector<std::string> byte_by_byte = links_in(page, kPage, 1);
        ASSERT_GT(byte_by_byte.size(), 5u) << "round " << round;
        for (std::size_t chunk : {2u, 3u, 7u, 4096u, 65535u, 65536u, 65537u, 1000000u}) {
            ASSERT_EQ(links_in(page, kPage, chunk), byte_by_byte) << "round " << round << ", chunk " << chunk;
        }
    }
}

}  // namespace
}  // namespace vellum
