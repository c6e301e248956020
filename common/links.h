#pragma once

#include <QString>
#include <QUrl>

// Addresses outside the programs that both of them open.
namespace Links {

// The web map search that shows a contact's town; it takes the query keys the form sends.
constexpr char MapHost[] = "maps.google.com";
constexpr char MapPath[] = "/maps";
constexpr char MapQuery[] = "hl=zh-CN&tab=wl&f=q&source=s_q&geocode=&q=";

// The maker's web site. A host under the reserved ".example" domain until the project has a
// site of its own: a domain we do not own must not receive our users' update checks and clicks.
constexpr char WebSite[] = "www.pelicard.example";

// Pages of the maker's site.
constexpr char HomePath[] = "/";
constexpr char DocumentationPath[] = "/products/pelicard/doc/";
constexpr char UpdatePath[] = "/products/pelicard/update/";
constexpr char BugReportPath[] = "/products/pelicard/postbug/";
constexpr char AskPath[] = "/products/pelicard/ask/";
constexpr char FeatureRequestPath[] = "/products/pelicard/featurerequest/";
constexpr char DownloadPath[] = "/products/pelicard/download/";

// A page of the maker's site, over plain HTTP as the site serves it.
inline QUrl webPage(const char *path)
{
    QUrl url;
    url.setScheme(QStringLiteral("http"));
    url.setHost(QLatin1String(WebSite));
    url.setPath(QLatin1String(path));
    return url;
}

} // namespace Links
