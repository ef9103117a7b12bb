#include "service/account/pages.h"

#include "service/common/utc_time.h"
#include "service/dns/names.h"

namespace service {

namespace {

std::string Page(const std::string& title, const std::string& body) {
    return "<!DOCTYPE html>\n<html lang=\"en\"><head><meta charset=\"utf-8\">"
           "<meta name=\"viewport\" content=\"width=device-width, initial-scale=1\">"
           "<title>" +
           HtmlEscape(title) + " - Kestrome</title><link rel=\"stylesheet\" href=\"" +
           kStylesheetPath + "\"></head>\n<body><main>\n<h1>" + HtmlEscape(title) + "</h1>\n" +
           body + "</main></body></html>\n";
}

std::string Field(const std::string& id, const std::string& label, const std::string& type,
                  const std::string& value, const std::string& autocomplete) {
    return "<p><label for=\"" + id + "\">" + label + "</label>\n<input id=\"" + id + "\" name=\"" +
           id + "\" type=\"" + type + "\" value=\"" + HtmlEscape(value) + "\" autocomplete=\"" +
           autocomplete + "\" required></p>\n";
}

// When and from where an address was set.
std::string SetWhen(const std::string& address, std::int64_t at, const std::string& from) {
    if (address.empty()) {
        return "none";
    }
    return HtmlEscape(address) + "<br><small>set " + FormatUtc(at, "%Y-%m-%d %H:%M UTC") +
           (from.empty() ? "" : " from " + HtmlEscape(from)) + "</small>";
}

// What DNS holds of a host, in words.
std::string DnsState(const HostAddresses& host, const std::string& zone, const std::string& never) {
    if (zone.empty()) {
        return "not kept in DNS by this service";
    }
    if (!never.empty()) {
        return "never published: " + never;
    }
    if (host.publishedAddress == host.Addresses()) {
        return host.publishedAddress.empty() ? "nothing to publish" : "published";
    }
    return "waiting to be published";
}

std::string HostRow(const std::string& label, const HostAddresses& host, const std::string& zone,
                    const std::string& never) {
    // The zone's name without its final dot.
    const std::string name = zone.empty() ? label : label + "." + zone.substr(0, zone.size() - 1);
    return "<tr><th scope=\"row\">" + HtmlEscape(name) + "</th><td>" +
           SetWhen(host.lastAddress, host.v4At, host.v4From) + "</td><td>" +
           SetWhen(host.lastAddress6, host.v6At, host.v6From) + "</td><td>" +
           DnsState(host, zone, never) + "</td></tr>\n";
}

// Why the login's own host is never published; empty when it may be.
std::string NeverPublished(const Account& a) {
    if (a.zonesOwn) {
        return "the zone holds the name";
    }
    if (!a.olderTwin.empty()) {
        return "another account has the name";
    }
    return PublishableLabel(a.name) ? "" : "the login is not a DNS name";
}

}  // namespace

std::string HtmlEscape(std::string_view text) {
    std::string out;
    for (const char c : text) {
        switch (c) {
            case '&':
                out += "&amp;";
                break;
            case '<':
                out += "&lt;";
                break;
            case '>':
                out += "&gt;";
                break;
            case '"':
                out += "&quot;";
                break;
            case '\'':
                out += "&#39;";
                break;
            default:
                out += c;
        }
    }
    return out;
}

std::string SignInHtml(const SignInPage& page) {
    std::string body;
    if (!page.notice.empty()) {
        body += "<p role=\"alert\" class=\"notice\">" + HtmlEscape(page.notice) + "</p>\n";
    }
    if (page.needsHttps) {
        return Page("Sign in", body +
                                   "<p class=\"notice\">This connection is not encrypted, so the "
                                   "page takes no password here. Open it over HTTPS to sign "
                                   "in.</p>\n");
    }
    body += std::string("<form method=\"post\" action=\"") + kAccountPath + "sign-in\">\n" +
            Field("login", "Login", "text", page.login, "username") +
            Field("password", "Password", "password", "", "current-password") +
            "<p><button type=\"submit\">Sign in</button></p>\n</form>\n";
    return Page("Sign in", body);
}

std::string OverviewHtml(const Overview& page) {
    const Account& a = page.account;
    std::string rows = HostRow(AsciiLower(a.name), a, page.zone, NeverPublished(a));
    for (const Host& h : a.hosts) {
        rows += HostRow(h.label, h, page.zone, "");
    }
    std::string body = "<p>Signed in as <strong>" + HtmlEscape(a.name) +
                       "</strong>. Your address as this service sees it: <strong>" +
                       HtmlEscape(page.visitor) + "</strong>.</p>\n";
    body +=
        "<table><caption>Your hosts</caption>\n<thead><tr><th scope=\"col\">Host</th>"
        "<th scope=\"col\">IPv4</th><th scope=\"col\">IPv6</th>"
        "<th scope=\"col\">DNS</th></tr></thead>\n<tbody>\n" +
        rows + "</tbody></table>\n";
    body += std::string("<form method=\"post\" action=\"") + kAccountPath +
            "sign-out\"><input type=\"hidden\" name=\"form\" value=\"" +
            HtmlEscape(page.formToken) +
            "\"><p><button type=\"submit\">Sign out</button></p></form>\n";
    return Page("Your account", body);
}

std::string MessageHtml(const std::string& title, const std::string& text) {
    return Page(title, "<p>" + HtmlEscape(text) + "</p>\n<p><a href=\"" + kAccountPath +
                           "\">Back to your account</a></p>\n");
}

std::string Stylesheet() {
    return R"(html { font-family: system-ui, sans-serif; color: #1a1a1a; background: #fff; }
body { margin: 0; }
main { max-width: 60rem; margin: 0 auto; padding: 1rem; }
h1 { font-size: 1.6rem; }
table { border-collapse: collapse; width: 100%; }
caption { text-align: left; font-weight: bold; padding: 0.5rem 0; }
th, td { text-align: left; vertical-align: top; padding: 0.4rem; border-bottom: 1px solid #767676;
  overflow-wrap: anywhere; }
thead th { overflow-wrap: normal; }
label { display: block; font-weight: bold; }
input { font: inherit; padding: 0.4rem; width: 100%; max-width: 24rem; box-sizing: border-box;
  border: 1px solid #595959; }
button { font: inherit; padding: 0.5rem 1rem; color: #fff; background: #1f5fa8; border: 0;
  border-radius: 0.25rem; cursor: pointer; }
button:focus-visible, input:focus-visible, a:focus-visible { outline: 3px solid #c25400;
  outline-offset: 2px; }
a { color: #1f5fa8; }
.notice { border-left: 4px solid #b00020; padding-left: 0.6rem; }
@media (max-width: 40rem) {
  main { padding: 0.5rem; }
  th, td { padding: 0.2rem; font-size: 0.9rem; }
}
)";
}

}  // namespace service
