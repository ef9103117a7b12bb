#include "res/menus.h"

#include "res/resource_ids.h"
#include "res/site_settings.h"

namespace res {

const platform::MenuTemplate& MainMenu() {
    static const platform::MenuTemplate menu{
        IDR_MAINMENU,
        {
            {"&Network",
             0,
             false,
             {
                 {"&Connect", ID_NETWORK_CONNECT, true, {}},
                 {"&Disconnect", ID_NETWORK_DISCONNECT, true, {}},
                 {"&Options", ID_NETWORK_OPTIONS, false, {}},
                 {"&Quit", ID_NETWORK_QUIT, false, {}},
             }},
            {"&Help",
             0,
             false,
             {
                 {"H&elp me", ID_HELP_HELPME, false, {}},
                 {"&About", ID_HELP_ABOUT, false, {}},
                 {"Email &Programmer", ID_HELP_EMAIL, false, {}},
             }},
            {"&Useful Sites",
             0,
             false,
             {
                 {kUsefulSite1, ID_SITES_1, false, {}},
                 {kUsefulSite2, ID_SITES_2, false, {}},
                 {kUsefulSite3, ID_SITES_3, false, {}},
                 // The maker's site, the update service: labelled with the
                 // host the program is given (see the main dialog).
                 {kServiceHost, ID_SITES_4, false, {}},
             }},
        }};
    return menu;
}

const platform::MenuTemplate& TrayMenu() {
    static const platform::MenuTemplate menu{IDR_TRAYMENU,
                                             {
                                                 {"POPUP",
                                                  0,
                                                  false,
                                                  {
                                                      {"&Restore", ID_TRAY_RESTORE, false, {}},
                                                      {"E&xit", ID_TRAY_EXIT, false, {}},
                                                  }},
                                             }};
    return menu;
}

const platform::MenuTemplate* MenuById(unsigned id) {
    for (const platform::MenuTemplate* menu : {&MainMenu(), &TrayMenu()}) {
        if (static_cast<unsigned>(menu->id) == id) {
            return menu;
        }
    }
    return nullptr;
}

}  // namespace res
