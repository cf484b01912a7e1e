#include "results/UrlBuilder.h"

#include <QTest>

using namespace quaddle;

namespace {

ServerRecord server(const QString& mask, const QString& host = "webhost",
                    const QString& user = "") {
    ServerRecord server;
    server.urlMask = mask;
    server.host = host;
    server.user = user;
    return server;
}

const UploadResults WorkedExample{{"my cat.jpg", "my cat_thumb.jpg"}, {"notes.txt", ""}};

} // namespace

class TestUrlBuilder : public QObject {
    Q_OBJECT

private slots:
    void encodesBytes_data();
    void encodesBytes();
    void workedExample_data();
    void workedExample();
    void buildsUrls_data();
    void buildsUrls();
    void noServerGivesEmptyLines();
    void writesMarkdown_data();
    void writesMarkdown();
    void namesAddNoMarkup_data();
    void namesAddNoMarkup();
};

void TestUrlBuilder::encodesBytes_data() {
    QTest::addColumn<QString>("text");
    QTest::addColumn<bool>("keepSlash");
    QTest::addColumn<QString>("encoded");
    QTest::newRow("unreserved") << "Az09-._" << false << "Az09-._";
    QTest::newRow("space") << "my cat" << false << "my%20cat";
    QTest::newRow("slash encoded") << "a/b" << false << "a%2Fb";
    QTest::newRow("slash kept") << "a/b" << true << "a/b";
    QTest::newRow("reserved") << "%+~:" << false << "%25%2B%7E%3A";
    QTest::newRow("not decoded first") << "a%20b" << false << "a%2520b";
    QTest::newRow("UTF-8 bytes") << "ä" << false << "%C3%A4";
    QTest::newRow("empty") << "" << true << "";
}

void TestUrlBuilder::encodesBytes() {
    QFETCH(QString, text);
    QFETCH(bool, keepSlash);
    QFETCH(QString, encoded);
    QCOMPARE(urlEncode(text, keepSlash), encoded);
}

void TestUrlBuilder::workedExample_data() {
    QTest::addColumn<int>("style");
    QTest::addColumn<QStringList>("lines");
    QTest::newRow("None") << int(TagStyle::None)
                          << QStringList{"http://webhost/pics/my%20cat.jpg",
                                         "http://webhost/pics/notes.txt"};
    QTest::newRow("[URL]") << int(TagStyle::Url)
                           << QStringList{"[URL=http://webhost/pics/my%20cat.jpg][IMG]http://"
                                          "webhost/pics/my%20cat_thumb.jpg[/IMG][/URL]",
                                          "[URL=http://webhost/pics/notes.txt]notes.txt[/URL]"};
    QTest::newRow("[IMG]") << int(TagStyle::Img)
                           << QStringList{"[IMG]http://webhost/pics/my%20cat.jpg[/IMG]",
                                          "[IMG]http://webhost/pics/notes.txt[/IMG]"};
    QTest::newRow("<a>") << int(TagStyle::Link)
                         << QStringList{"<a href=\"http://webhost/pics/my%20cat.jpg\"><img "
                                        "src=\"http://webhost/pics/my%20cat_thumb.jpg\" /></a>",
                                        "<a href=\"http://webhost/pics/notes.txt\">notes.txt</a>"};
    QTest::newRow("<img>") << int(TagStyle::Image)
                           << QStringList{"<img src=\"http://webhost/pics/my%20cat.jpg\" />",
                                          "<img src=\"http://webhost/pics/notes.txt\" />"};
}

void TestUrlBuilder::workedExample() {
    QFETCH(int, style);
    QFETCH(QStringList, lines);
    QCOMPARE(urlLines(server("http://$host$dir$file"), "pics", WorkedExample, TagStyle(style)),
             lines);
}

void TestUrlBuilder::buildsUrls_data() {
    QTest::addColumn<QString>("mask");
    QTest::addColumn<QString>("host");
    QTest::addColumn<QString>("user");
    QTest::addColumn<QString>("dir");
    QTest::addColumn<QString>("file");
    QTest::addColumn<QString>("url");
    const QString standard = "http://$host$dir$file";
    QTest::newRow("empty directory") << standard << "webhost"
                                     << ""
                                     << ""
                                     << "a.jpg"
                                     << "http://webhost/a.jpg";
    QTest::newRow("directory with slashes") << standard << "webhost"
                                            << ""
                                            << "/pics/"
                                            << "a.jpg"
                                            << "http://webhost/pics/a.jpg";
    QTest::newRow("doubled slash") << standard << "webhost"
                                   << ""
                                   << "a//b"
                                   << "a.jpg"
                                   << "http://webhost/a/b/a.jpg";
    QTest::newRow("tripled slash keeps two") << standard << "webhost"
                                             << ""
                                             << "a///b"
                                             << "a.jpg"
                                             << "http://webhost/a//b/a.jpg";
    QTest::newRow("four slashes give two") << standard << "webhost"
                                           << ""
                                           << "a////b"
                                           << "a.jpg"
                                           << "http://webhost/a//b/a.jpg";
    QTest::newRow("IPv6 address in brackets") << standard << "::1"
                                              << ""
                                              << "sub"
                                              << "a.jpg"
                                              << "http://[::1]/sub/a.jpg";
    QTest::newRow("no scheme") << "$host$dir$file"
                               << "webhost"
                               << ""
                               << ""
                               << "a.jpg"
                               << "webhost//a.jpg";
    QTest::newRow("blank in directory") << standard << "webhost"
                                        << ""
                                        << "sub dir/x"
                                        << "a.jpg"
                                        << "http://webhost/sub%20dir/x/a.jpg";
    QTest::newRow("percent in name") << standard << "webhost"
                                     << ""
                                     << ""
                                     << "50%.jpg"
                                     << "http://webhost/50%25.jpg";
    QTest::newRow("non-ASCII name") << standard << "webhost"
                                    << ""
                                    << ""
                                    << "Käse.jpg"
                                    << "http://webhost/K%C3%A4se.jpg";
    QTest::newRow("user encoded") << "http://$host/~$user$dir$file"
                                  << "webhost"
                                  << "a+b"
                                  << ""
                                  << "x"
                                  << "http://webhost/~a%2Bb/x";
    QTest::newRow("host raw") << standard << "web host/x"
                              << ""
                              << ""
                              << "a"
                              << "http://web host/x/a";
    QTest::newRow("case counts") << "http://$Host$dir$file"
                                 << "webhost"
                                 << ""
                                 << ""
                                 << "a"
                                 << "http://$Host/a";
    QTest::newRow("inserted text not rescanned") << "http://$host$file"
                                                 << "$host.org"
                                                 << ""
                                                 << ""
                                                 << "a"
                                                 << "http://$host.org/a";
    QTest::newRow("later steps see earlier text") << "http://$host$file"
                                                  << "$dir"
                                                  << ""
                                                  << "p"
                                                  << "a"
                                                  << "http://p/a";
    QTest::newRow("variable twice") << "$file $file"
                                    << ""
                                    << ""
                                    << ""
                                    << "a"
                                    << "/a /a";
}

void TestUrlBuilder::buildsUrls() {
    QFETCH(QString, mask);
    QFETCH(QString, host);
    QFETCH(QString, user);
    QFETCH(QString, dir);
    QFETCH(QString, file);
    QFETCH(QString, url);
    QCOMPARE(buildUrl(server(mask, host, user), dir, file), url);
}

void TestUrlBuilder::noServerGivesEmptyLines() {
    QCOMPARE(urlLines(ServerRecord{}, "pics", WorkedExample, TagStyle::None),
             (QStringList{"", ""}));
    QCOMPARE(urlLines(ServerRecord{}, "pics", WorkedExample, TagStyle::Url).last(),
             QStringLiteral("[URL=]notes.txt[/URL]"));
}

void TestUrlBuilder::writesMarkdown_data() {
    QTest::addColumn<QString>("file");
    QTest::addColumn<QString>("thumbnail");
    QTest::addColumn<QString>("line");
    QTest::newRow("image with thumbnail")
        << "my cat.jpg"
        << "my cat_thumb.jpg"
        << "[![my cat.jpg](http://webhost/pics/my%20cat_thumb.jpg)](http://webhost/pics/"
           "my%20cat.jpg)";
    QTest::newRow("image without thumbnail") << "shot.PNG"
                                             << ""
                                             << "![shot.PNG](http://webhost/pics/shot.PNG)";
    QTest::newRow("other file") << "notes.txt"
                                << ""
                                << "[notes.txt](http://webhost/pics/notes.txt)";
    QTest::newRow("brackets escaped")
        << "notes [v2].txt"
        << ""
        << "[notes \\[v2\\].txt](http://webhost/pics/notes%20%5Bv2%5D.txt)";
    QTest::newRow("parentheses and backslash escaped")
        << "a(1)\\b.gif"
        << ""
        << "![a\\(1\\)\\\\b.gif](http://webhost/pics/a%281%29%5Cb.gif)";
    QTest::newRow("image without picture extension")
        << "photo.jpg.txt"
        << ""
        << "[photo.jpg.txt](http://webhost/pics/photo.jpg.txt)";
    for (const QString& extension : QStringList{"jpeg", "Bmp", "webp", "SVG"})
        QTest::newRow(qPrintable(extension))
            << "x." + extension << ""
            << QStringLiteral("![x.%1](http://webhost/pics/x.%1)").arg(extension);
}

void TestUrlBuilder::writesMarkdown() {
    QFETCH(QString, file);
    QFETCH(QString, thumbnail);
    QFETCH(QString, line);
    QCOMPARE(
        urlLines(server("http://$host$dir$file"), "pics", {{file, thumbnail}}, TagStyle::Markdown),
        QStringList{line});
}

void TestUrlBuilder::namesAddNoMarkup_data() {
    QTest::addColumn<int>("style");
    QTest::addColumn<QString>("mask");
    QTest::addColumn<QString>("file");
    QTest::addColumn<QString>("line");
    const QString standard = "http://$host$file";
    QTest::newRow("HTML element in a name")
        << int(TagStyle::Link) << standard << "<img src=x onerror=alert(1)>.txt"
        << "<a href=\"http://webhost/%3Cimg%20src%3Dx%20onerror%3Dalert%281%29%3E.txt\">"
           "&lt;img src=x onerror=alert(1)&gt;.txt</a>";
    QTest::newRow("HTML quote and entity") << int(TagStyle::Link) << standard << "a\"b&amp;.txt"
                                           << "<a href=\"http://webhost/a%22b%26amp%3B.txt\">"
                                              "a&quot;b&amp;amp;.txt</a>";
    QTest::newRow("HTML attribute from the mask")
        << int(TagStyle::Image) << "http://$host/get?a=\"1\"&f=$file"
        << "x.jpg"
        << "<img src=\"http://webhost/get?a=&quot;1&quot;&amp;f=/x.jpg\" />";
    QTest::newRow("BBCode tags in a name")
        << int(TagStyle::Url) << standard << "x[/URL][URL=http://evil]y.txt"
        << "[URL=http://webhost/x%5B%2FURL%5D%5BURL%3Dhttp%3A%2F%2Fevil%5Dy.txt]"
           "x\uFF3B/URL\uFF3D\uFF3BURL=http://evil\uFF3Dy.txt[/URL]";
    QTest::newRow("Markdown markup in a name")
        << int(TagStyle::Markdown) << standard << "*b* _i_ `c` <s> &lt; ~~d~~ |!#.txt"
        << "[\\*b\\* \\_i\\_ \\`c\\` \\<s\\> \\&lt; \\~\\~d\\~\\~ \\|\\!\\#.txt]"
           "(http://webhost/"
           "%2Ab%2A%20_i_%20%60c%60%20%3Cs%3E%20%26lt%3B%20%7E%7Ed%7E%7E%20%7C%21%23.txt)";
}

void TestUrlBuilder::namesAddNoMarkup() {
    QFETCH(int, style);
    QFETCH(QString, mask);
    QFETCH(QString, file);
    QFETCH(QString, line);
    QCOMPARE(urlLines(server(mask), "", {{file, ""}}, TagStyle(style)), QStringList{line});
}

QTEST_APPLESS_MAIN(TestUrlBuilder)
#include "TestUrlBuilder.moc"
