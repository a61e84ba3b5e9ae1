#include "staticcontent.h"

#include "authpage.h"
#include "datastore.h"

#include <algorithm>
#include <random>

namespace Emulator {

namespace {

const char svgType[] = "image/svg+xml";

std::optional<Message> messageOf(const DataStore& store, const std::string& id)
{
    try {
        return store.message(std::stoi(id));
    } catch (const std::exception&) {
        return std::nullopt;
    }
}

std::string firstCharacter(const std::string& text)
{
    if (text.empty())
        return "?";
    std::size_t length = 1;
    while (length < text.size() && (static_cast<unsigned char>(text[length]) & 0xC0) == 0x80)
        ++length;
    return text.substr(0, length);
}

} // namespace

StaticContent::StaticContent(DataStore& store, SettingsSource settings)
    : m_store(store)
    , m_settings(std::move(settings))
{
}

void StaticContent::addRoutes(Router& router)
{
    router.add("GET", "/", Access::Open, [this](const Call& c) { return index(c); });
    router.add("GET", "/avatars/([A-Za-z0-9_]+)\\.svg", Access::Open, [this](const Call& c) { return avatar(c); });
    router.add("GET", "/charts/([0-9]{1,9})/(thumb|large|original)\\.(svg|jpg)", Access::Open,
               [this](const Call& c) { return chart(c); });
    router.add("GET", "/videos/([0-9]{1,9})/thumb\\.svg", Access::Open,
               [this](const Call& c) { return videoThumb(c); });
    router.add("GET", "/videos/([0-9]{1,9})(/video)?", Access::Open, [this](const Call& c) { return videoPage(c); });
}

Reply StaticContent::index(const Call&) const
{
    std::string page = "<!DOCTYPE html>\n<html><head><meta charset=\"utf-8\"><title>Ventari service emulator</title>"
                       "</head>\n<body style=\"font-family:sans-serif\">\n<h1>Ventari service emulator</h1>\n"
                       "<p>Remote settings that point a host at this service:</p>\n<pre>\n";
    for (const auto& setting : m_settings())
        page += "RemoteSettings/Ventari/" + AuthPage::escapeHtml(setting.first) + "=" +
                AuthPage::escapeHtml(setting.second) + "\n";
    page += "</pre>\n</body></html>\n";
    return Reply::html(200, page);
}

Reply StaticContent::avatar(const Call& call) const
{
    const auto user = m_store.userByName(call.captures.at(0));
    if (!user)
        return Reply::error(404, "User not found: " + call.captures.at(0));
    static const char* const colours[] = {"#234e78", "#7a3b69", "#2e7d5b", "#b5651d", "#5b5ea6", "#9b2335"};
    const std::string colour = colours[static_cast<unsigned>(user->id) % 6];
    const std::string svg = "<svg xmlns=\"http://www.w3.org/2000/svg\" width=\"48\" height=\"48\">"
                            "<circle cx=\"24\" cy=\"24\" r=\"24\" fill=\"" + colour + "\"/>"
                            "<text x=\"24\" y=\"32\" font-size=\"24\" font-family=\"sans-serif\" fill=\"#fff\" "
                            "text-anchor=\"middle\">" + AuthPage::escapeHtml(firstCharacter(user->name)) +
                            "</text></svg>";
    return Reply::content(svg, svgType);
}

Reply StaticContent::chart(const Call& call) const
{
    const auto message = messageOf(m_store, call.captures.at(0));
    const std::string& size = call.captures.at(1);
    const bool jpeg = call.captures.at(2) == "jpg";
    if (!message || !message->chart || message->chart->thumb.find(jpeg ? ".jpg" : ".svg") == std::string::npos)
        return Reply::error(404, "Chart not found");
    if (jpeg)
        return Reply::content(m_store.postedImage(message->id), "image/jpeg");
    const int width = size == "thumb" ? 120 : size == "large" ? 600 : 1200;
    const int height = width * 2 / 3;
    // The same message always draws the same line.
    std::mt19937 random(static_cast<unsigned>(message->id));
    std::string points;
    double value = height / 2.0;
    for (int x = 0; x <= width; x += width / 40) {
        value += std::uniform_real_distribution<double>(-height / 12.0, height / 12.0)(random);
        value = std::max(height * 0.1, std::min(height * 0.9, value));
        points += std::to_string(x) + "," + std::to_string(static_cast<int>(value)) + " ";
    }
    const std::string svg = "<svg xmlns=\"http://www.w3.org/2000/svg\" width=\"" + std::to_string(width) +
                            "\" height=\"" + std::to_string(height) + "\"><rect width=\"" + std::to_string(width) +
                            "\" height=\"" + std::to_string(height) + "\" "
                            "fill=\"#f7f9fb\"/><polyline fill=\"none\" stroke=\"#234e78\" stroke-width=\"" +
                            std::to_string(std::max(1, width / 300)) + "\" points=\"" + points + "\"/></svg>";
    return Reply::content(svg, svgType);
}

Reply StaticContent::videoThumb(const Call& call) const
{
    const auto message = messageOf(m_store, call.captures.at(0));
    if (!message || !message->video)
        return Reply::error(404, "Video not found");
    const std::string svg = "<svg xmlns=\"http://www.w3.org/2000/svg\" width=\"120\" height=\"90\">"
                            "<rect width=\"120\" height=\"90\" fill=\"#1d2a36\"/>"
                            "<polygon points=\"48,28 48,62 78,45\" fill=\"#fff\"/></svg>";
    return Reply::content(svg, svgType);
}

Reply StaticContent::videoPage(const Call& call) const
{
    const auto message = messageOf(m_store, call.captures.at(0));
    if (!message || !message->video)
        return Reply::error(404, "Video not found");
    return Reply::html(200, "<!DOCTYPE html>\n<html><head><meta charset=\"utf-8\"><title>Video</title></head>"
                            "<body style=\"font-family:sans-serif\"><h1>Video of message " +
                                std::to_string(message->id) + "</h1><p>Duration " +
                                AuthPage::escapeHtml(message->video->duration) +
                                ". The emulated service has no real footage.</p></body></html>\n");
}

} // namespace Emulator
