#include "authpage.h"

#include "datastore.h"
#include "tokenregistry.h"

#include <algorithm>

namespace Emulator {

namespace {

const char pageHead[] = R"(<!DOCTYPE html>
<html>
<head>
<meta charset="utf-8">
<title>Ventari - Authorize</title>
<style>
body { font-family: sans-serif; background: #eef2f6; color: #1d2a36; margin: 0; padding: 24px; }
.card { max-width: 400px; margin: 0 auto; background: #fff; border: 1px solid #c9d3dd; border-radius: 6px; padding: 20px; }
h1 { font-size: 20px; margin: 0 0 12px 0; color: #234e78; }
p { font-size: 14px; line-height: 1.4; }
select { width: 100%; font-size: 14px; padding: 4px; margin: 6px 0 16px 0; }
button { font-size: 14px; padding: 6px 18px; margin-right: 8px; }
/* The page's own colours, whatever palette the embedding browser gives its controls. */
select, button { -webkit-appearance: none; color: #1d2a36; background: #f7f9fb; border: 1px solid #9fb0c1; border-radius: 4px; }
button#approve { color: #fff; background: #2f6da3; border-color: #2f6da3; }
select { padding-right: 24px; background: #f7f9fb url("data:image/svg+xml;utf8,<svg xmlns='http://www.w3.org/2000/svg' width='10' height='6'><path d='M0 0h10L5 6z' fill='%2356697c'/></svg>") no-repeat right 8px center; }
</style>
<script>
function approve(username) {
    var form = document.getElementById('authorize');
    if (username)
        form.username.value = username;
    form.decision.value = 'approve';
    form.submit();
}
function deny() {
    var form = document.getElementById('authorize');
    form.decision.value = 'deny';
    form.submit();
}
</script>
</head>
<body>
<div class="card">
)";

} // namespace

AuthPage::AuthPage(DataStore& store, TokenRegistry& tokens, std::string clientId)
    : m_store(store)
    , m_tokens(tokens)
    , m_clientId(std::move(clientId))
{
}

void AuthPage::addRoutes(Router& router)
{
    router.add("GET", "/oauth/authorize", Access::Open, [this](const Call& c) { return form(c); });
    router.add("POST", "/oauth/authorize", Access::Open, [this](const Call& c) { return decide(c); });
    router.add("GET", "/oauth/done", Access::Open, [this](const Call& c) { return done(c); });
}

std::string AuthPage::escapeHtml(const std::string& text)
{
    std::string out;
    for (char c : text) {
        switch (c) {
        case '&': out += "&amp;"; break;
        case '<': out += "&lt;"; break;
        case '>': out += "&gt;"; break;
        case '"': out += "&quot;"; break;
        case '\'': out += "&#39;"; break;
        default: out += c;
        }
    }
    return out;
}

Reply AuthPage::errorPage(int status, const std::string& text)
{
    return Reply::html(status, std::string(pageHead) + "<h1>Authorization failed</h1>\n<p>" + escapeHtml(text) +
                                   "</p>\n</div>\n</body>\n</html>\n");
}

std::optional<Reply> AuthPage::refusal(const Grant& grant) const
{
    if (grant.clientId != m_clientId)
        return errorPage(400, "Unknown client: " + grant.clientId);
    if (grant.responseType != "token")
        return errorPage(400, "Unsupported response type: " + grant.responseType);
    const std::string& uri = grant.redirectUri;
    const bool absolute = uri.rfind("http://", 0) == 0 || uri.rfind("https://", 0) == 0;
    // The address goes into a Location header, which the transport drops whole when it holds a line break.
    const bool control =
        std::any_of(uri.begin(), uri.end(), [](char c) { return (c >= 0 && c < 0x20) || c == 0x7f; });
    if (!absolute || control || uri.find('#') != std::string::npos)
        return errorPage(400, "Invalid redirect address: " + uri);
    return std::nullopt;
}

Reply AuthPage::form(const Call& call) const
{
    const Grant grant{call.request.queryValue("client_id"), call.request.queryValue("response_type"),
                      call.request.queryValue("redirect_uri")};
    if (auto refused = refusal(grant))
        return *refused;
    std::string page = pageHead;
    page += "<h1>Authorize " + escapeHtml(grant.clientId) + "</h1>\n";
    page += "<p>The application <b>" + escapeHtml(grant.clientId) +
            "</b> asks to read your streams and to post, like and follow in your name.</p>\n";
    page += "<form id=\"authorize\" method=\"post\" action=\"/oauth/authorize\">\n";
    page += "<input type=\"hidden\" name=\"client_id\" value=\"" + escapeHtml(grant.clientId) + "\">\n";
    page += "<input type=\"hidden\" name=\"response_type\" value=\"token\">\n";
    page += "<input type=\"hidden\" name=\"redirect_uri\" value=\"" + escapeHtml(grant.redirectUri) + "\">\n";
    page += "<input type=\"hidden\" name=\"decision\" value=\"\">\n";
    page += "<label for=\"username\">Sign in as</label>\n<select id=\"username\" name=\"username\">\n";
    for (const User& user : m_store.users()) {
        page += "<option value=\"" + escapeHtml(user.username) + "\">" + escapeHtml(user.name) + " (@" +
                escapeHtml(user.username) + ")</option>\n";
    }
    page += "</select>\n";
    page += "<button type=\"submit\" name=\"choice\" value=\"approve\" id=\"approve\">Approve</button>\n";
    page += "<button type=\"submit\" name=\"choice\" value=\"deny\" id=\"deny\">Deny</button>\n";
    page += "</form>\n</div>\n</body>\n</html>\n";
    return Reply::html(200, page);
}

Reply AuthPage::decide(const Call& call)
{
    if (!call.form.ok)
        return errorPage(400, call.form.error);
    const Grant grant{call.form.value("client_id"), call.form.value("response_type"),
                      call.form.value("redirect_uri")};
    if (auto refused = refusal(grant))
        return *refused;
    // The script fills "decision"; without script the pressed button sends "choice".
    std::string decision = call.form.value("decision");
    if (decision.empty())
        decision = call.form.value("choice");
    if (decision == "deny")
        return Reply::redirect(grant.redirectUri + "#error=access_denied");
    if (decision != "approve")
        return errorPage(400, "Neither approved nor denied");
    const auto user = m_store.userByName(call.form.value("username"));
    if (!user)
        return errorPage(400, "Unknown account: " + call.form.value("username"));
    return Reply::redirect(grant.redirectUri + "#access_token=" + m_tokens.issue(user->id));
}

Reply AuthPage::done(const Call&) const
{
    return Reply::html(200, std::string(pageHead) +
                                "<h1>Done</h1>\n<p>You can close this window.</p>\n</div>\n</body>\n</html>\n");
}

} // namespace Emulator
