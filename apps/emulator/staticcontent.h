#pragma once

#include "router.h"

#include <functional>
#include <map>
#include <string>

namespace Emulator {

class DataStore;

// What the records link to: avatars, chart images, video pages, and a start page for people.
class StaticContent
{
public:
    using SettingsSource = std::function<std::map<std::string, std::string>()>;

    StaticContent(DataStore& store, SettingsSource settings);

    void addRoutes(Router& router);

private:
    Reply index(const Call& call) const;
    Reply avatar(const Call& call) const;
    Reply chart(const Call& call) const;
    Reply videoThumb(const Call& call) const;
    Reply videoPage(const Call& call) const;

    DataStore& m_store;
    SettingsSource m_settings;
};

} // namespace Emulator
