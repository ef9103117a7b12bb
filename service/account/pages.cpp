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
                  const std::string& value, const std::string& autocomplete, bool required = true) {
    return "<p><label for=\"" + id + "\">" + label + "</label>\n<input id=\"" + id + "\" name=\"" +
           id + "\" type=\"" + type + "\" value=\"" + HtmlEscape(value) + "\" autocomplete=\"" +
           autocomplete + "\"" + (required ? " required" : "") + "></p>\n";
}

std::string Hidden(const std::string& name, const std::string& value) {
    return "<input type=\"hidden\" name=\"" + name + "\" value=\"" + HtmlEscape(value) + "\">";
}

// A form that changes something: it carries the session's form token.
std::string Form(const std::string& action, const std::string& formToken, const std::string& fields,
                 const std::string& button) {
    return std::string("<form method=\"post\" action=\"") + kAccountPath + action + "\">" +
           Hidden("form", formToken) + "\n" + fields + "<p><button type=\"submit\">" + button +
           "</button></p></form>\n";
}

// The name a host has in DNS: its label under the zone, without the zone's
// final dot.
std::string HostName(const std::string& label, const std::string& zone) {
    return zone.empty() ? label : label + "." + zone.substr(0, zone.size() - 1);
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
    if (!host.publishFailure.empty()) {
        return "failed: " + HtmlEscape(host.publishFailure) + "; it is tried again";
    }
    return "waiting to be published";
}

// A host's row, with its actions: a new token, and removal for all but the
// login's own.
std::string HostRow(const std::string& label, const HostAddresses& host, const Overview& page,
                    const std::string& never, bool own) {
    const std::string name = HostName(label, page.zone);
    std::string actions =
        Form("new-token", page.formToken, Hidden("host", label),
             "New token<span class=\"hidden\"> for " + HtmlEscape(name) + "</span>");
    if (!own) {
        actions += Form("remove-host", page.formToken, Hidden("host", label),
                        "Remove<span class=\"hidden\"> " + HtmlEscape(name) + "</span>");
    }
    // Each cell says what it is too, for narrow screens, where the table's
    // head is not shown.
    const auto cell = [](const std::string& what, const std::string& content) {
        return "<td><span class=\"cell\">" + what + ": </span>" + content + "</td>";
    };
    return "<tr><th scope=\"row\">" + HtmlEscape(name) + "</th>" +
           cell("IPv4", SetWhen(host.lastAddress, host.v4At, host.v4From)) +
           cell("IPv6", SetWhen(host.lastAddress6, host.v6At, host.v6From)) +
           cell("DNS", DnsState(host, page.zone, never)) + "<td>" + actions + "</td></tr>\n";
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
    const std::string own = AsciiLower(a.name);
    std::string rows = HostRow(own, a, page, NeverPublished(a), true);
    std::string options = "<option>" + HtmlEscape(own) + "</option>";
    for (const Host& h : a.hosts) {
        rows += HostRow(h.label, h, page, "", false);
        options += "<option>" + HtmlEscape(h.label) + "</option>";
    }
    std::string body = "<p>Signed in as <strong>" + HtmlEscape(a.name) +
                       "</strong>; the account is active. Your address as this service sees "
                       "it: <strong>" +
                       HtmlEscape(page.visitor) + "</strong>.</p>\n";
    body +=
        "<table><caption>Your hosts</caption>\n<thead><tr><th scope=\"col\">Host</th>"
        "<th scope=\"col\">IPv4</th><th scope=\"col\">IPv6</th>"
        "<th scope=\"col\">DNS</th><th scope=\"col\">Actions</th></tr></thead>\n<tbody>\n" +
        rows + "</tbody></table>\n";
    body +=
        "<h2>Add a host</h2>\n" +
        Form("add-host", page.formToken,
             Field("label", "Label (letters, digits and hyphens)", "text", "", "off"), "Add host");
    body +=
        "<h2>Set an address by hand</h2>\n" +
        Form("set-address", page.formToken,
             "<p><label for=\"host\">Host</label>\n<select id=\"host\" name=\"host\">" + options +
                 "</select></p>\n" + Field("ipv4", "IPv4 address", "text", "", "off", false) +
                 Field("ipv6", "IPv6 address", "text", "", "off", false),
             "Set address");
    body += "<h2>Change your password</h2>\n" +
            Form("password", page.formToken,
                 Field("current", "Current password", "password", "", "current-password") +
                     Field("new", "New password", "password", "", "new-password") +
                     Field("again", "New password again", "password", "", "new-password"),
                 "Change password");
    body += "<h2>Sign out</h2>\n" + Form("sign-out", page.formToken, "", "Sign out");
    return Page("Your account", body);
}

std::string ConfirmRemovalHtml(const std::string& label, const std::string& zone,
                               const std::string& formToken) {
    const std::string name = HtmlEscape(HostName(label, zone));
    return Page("Remove " + HostName(label, zone) + "?",
                "<p>Removing <strong>" + name +
                    "</strong> withdraws its records from DNS and ends its token.</p>\n" +
                    Form("remove-host", formToken, Hidden("host", label) + Hidden("confirm", "yes"),
                         "Remove " + name) +
                    "<p><a href=\"" + kAccountPath + "\">Keep it</a></p>\n");
}

std::string TokenHtml(const TokenPage& page) {
    const std::string name = HostName(page.label, page.zone);
    const std::string scheme = page.https ? "https" : "http";
    const std::string ddclient = "protocol=dyndns2\nuse=web, web=" + scheme + "://" + page.server +
                                 "/checkip\nserver=" + page.server +
                                 "\nssl=" + (page.https ? "yes" : "no") + "\nlogin=" + page.login +
                                 "\npassword='" + page.token + "'\n" + name + "\n";
    const std::string inadyn =
        "custom kestrome {\n    username       = " + page.login +
        "\n    password       = " + page.token + "\n    ddns-server    = " + page.server +
        "\n    ddns-path      = \"/nic/update?hostname=%h&myip=%i\"\n    checkip-server = " +
        page.server +
        "\n    checkip-path   = /checkip\n    ssl            = " + (page.https ? "true" : "false") +
        "\n    hostname       = " + name + "\n}\n";
    const std::string router = scheme + "://" + page.login + ":" + page.token + "@" + page.server +
                               "/nic/update?hostname=" + name + "&myip=<ipaddr>";
    return Page(
        "New token for " + name,
        "<p>The token below updates <strong>" + HtmlEscape(name) +
            "</strong> only; the one before it no longer works. It is shown this once: copy it "
            "now.</p>\n<p class=\"token\"><code>" +
            HtmlEscape(page.token) + "</code></p>\n<h2>ddclient</h2>\n<pre>" +
            HtmlEscape(ddclient) + "</pre>\n<h2>inadyn</h2>\n<pre>" + HtmlEscape(inadyn) +
            "</pre>\n<h2>A router's update URL</h2>\n<p>With your router's own placeholder for its "
            "address in place of &lt;ipaddr&gt;:</p>\n<pre>" +
            HtmlEscape(router) + "</pre>\n<p><a href=\"" + kAccountPath +
            "\">Back to your account</a></p>\n");
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
h2 { font-size: 1.2rem; margin-top: 1.5rem; }
td form p { margin: 0 0 0.3rem; }
select { font: inherit; padding: 0.3rem; }
pre, .token code { background: #f3f3f3; padding: 0.5rem; overflow-wrap: anywhere;
  white-space: pre-wrap; }
.hidden { position: absolute; width: 1px; height: 1px; overflow: hidden; clip: rect(0 0 0 0);
  white-space: nowrap; }
.notice { border-left: 4px solid #b00020; padding-left: 0.6rem; }
.cell { display: none; font-weight: bold; }
button { white-space: nowrap; }
@media (max-width: 40rem) {
  main { padding: 0.5rem; }
  table, caption, thead, tbody, tr, th, td { display: block; }
  thead tr { position: absolute; width: 1px; height: 1px; overflow: hidden; clip: rect(0 0 0 0); }
  tr { border-bottom: 2px solid #767676; padding: 0.5rem 0; }
  th, td { border: 0; padding: 0.15rem 0; }
  .cell { display: inline; }
  td form { display: inline-block; margin-right: 0.5rem; }
}
)";
}

}  // namespace service
